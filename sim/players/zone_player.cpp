#include "sim/players/zone_player.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <cstdio>

namespace orv::players {
namespace {

constexpr const char kPlayAtom[] = "_ORV_ZONE_PLAY";

xcb_connection_t* X11Connection() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

}  // namespace

ZonePlayer::ZonePlayer(const char* program) : program_(program) {
    setWindowTitle(program);
    resize(320, 180);
    if (xcb_connection_t* c = X11Connection()) {
        const auto cookie = xcb_intern_atom(c, 0, sizeof kPlayAtom - 1, kPlayAtom);
        if (auto* reply = xcb_intern_atom_reply(c, cookie, nullptr)) {
            playAtom_ = reply->atom;
            std::free(reply);
        }
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
}

ZonePlayer::~ZonePlayer() {
    QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool ZonePlayer::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || playAtom_ == 0) return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
    auto* client = reinterpret_cast<xcb_client_message_event_t*>(event);
    if (client->type != playAtom_) return false;
    Play();
    return true;
}

void ZonePlayer::Play() {
    if (playing_) return;
    playing_ = true;
    std::printf("%s: playing\n", program_);
    std::fflush(stdout);
    Started();
}

// ---------------------------------------------------------------- lumbrae
PhotoWallPlayer::PhotoWallPlayer(const QString& folder, int intervalSeconds)
    : ZonePlayer("lumbrae"), intervalMs_(std::max(intervalSeconds, 1) * 1000) {
    files_ = QDir(folder).entryList({"*.png", "*.jpg", "*.jpeg", "*.bmp"}, QDir::Files, QDir::Name);
    for (QString& f : files_) f = QDir(folder).filePath(f);
    connect(&timer_, &QTimer::timeout, this, [this] { Next(); });
}

void PhotoWallPlayer::Started() {
    Next();
    timer_.start(intervalMs_);
}

void PhotoWallPlayer::Next() {
    if (files_.isEmpty()) return;
    current_ = (current_ + 1) % static_cast<int>(files_.size());
    picture_ = QImage(files_[current_]);
    update();
}

void PhotoWallPlayer::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (picture_.isNull()) return;
    const QImage scaled = picture_.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    p.drawImage((width() - scaled.width()) / 2, (height() - scaled.height()) / 2, scaled);
}

// ---------------------------------------------------------------- tessival
VideoPlayer::VideoPlayer() : ZonePlayer("tessival") {
    connect(&timer_, &QTimer::timeout, this, [this] {
        ++frame_;
        update();
    });
}

void VideoPlayer::Started() {
    timer_.start(40);
}

void VideoPlayer::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(20, 20, 30));
    if (!Playing()) return;
    const int band = std::max(width() / 8, 1);
    const int x = (frame_ * 8) % std::max(width() + band, 1) - band;
    p.fillRect(QRect(x, 0, band, height()), QColor::fromHsv((frame_ * 3) % 360, 200, 230));
}

}  // namespace orv::players
