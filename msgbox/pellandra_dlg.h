// Pellandra's one window: a caption-less warning box with painted bands, a
// red title, a blue message and an OK button, movable by pressing anywhere
// in it. The band pictures are drawn by BandPicture at start, so the tree
// holds no binary pictures.
//
// UI thread only.
#pragma once

#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QPoint>
#include <QPushButton>
#include <optional>

namespace orv::msgbox {

inline constexpr int kWidth = 400;
inline constexpr int kHeight = 200;

enum class Band { kTitle, kLower, kWarningSign };
// The picture of one band (the title band 146, the lower band 144, the
// warning sign 145), drawn at its natural size; painting stretches it.
QImage BandPicture(Band band);

class CPellandraDlg : public QDialog {
public:
    explicit CPellandraDlg(QWidget* parent = nullptr);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void Layout();

    QPushButton* ok_;
    QLabel* title_;    // 1001
    QLabel* message_;  // 1002
    QImage titleBand_;
    QImage lowerBand_;
    QImage sign_;
    // Set while the window follows the mouse itself (when the window system
    // does not move it): the press point's offset from the window's corner.
    std::optional<QPoint> moveOffset_;
};

}  // namespace orv::msgbox
