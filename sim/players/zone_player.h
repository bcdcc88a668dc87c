// The stand-ins for the two programs the panel plays in wall zones: a
// window that waits for the panel's play message (a ClientMessage of type
// "_ORV_ZONE_PLAY" sent to it on X11), then plays: lumbrae shows the
// pictures of a folder one after another, tessival a moving placeholder
// picture. Each prints "<program>: playing" on standard output when the
// message arrives, so tests can see it.
//
// UI thread only.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QImage>
#include <QStringList>
#include <QTimer>
#include <QWidget>

namespace orv::players {

class ZonePlayer : public QWidget, public QAbstractNativeEventFilter {
public:
    explicit ZonePlayer(const char* program);
    ~ZonePlayer() override;

    bool Playing() const { return playing_; }
    // What the play message does (also called by tests).
    void Play();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

protected:
    virtual void Started() = 0;

private:
    const char* program_;
    bool playing_ = false;
    std::uint32_t playAtom_ = 0;
};

// lumbrae: the pictures of `folder` (PNG, JPEG, BMP, by name), each for
// `intervalSeconds`.
class PhotoWallPlayer : public ZonePlayer {
public:
    PhotoWallPlayer(const QString& folder, int intervalSeconds);
    int PictureCount() const { return static_cast<int>(files_.size()); }
    int Current() const { return current_; }

protected:
    void Started() override;
    void paintEvent(QPaintEvent* event) override;

private:
    void Next();

    QStringList files_;
    int current_ = -1;
    QImage picture_;
    QTimer timer_;
    int intervalMs_;
};

// tessival: a moving colour band standing for a video.
class VideoPlayer : public ZonePlayer {
public:
    VideoPlayer();

protected:
    void Started() override;
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer_;
    int frame_ = 0;
};

}  // namespace orv::players
