#include "msgbox/pellandra_dlg.h"

#include <QContextMenuEvent>
#include <QLinearGradient>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWindow>

namespace orv::msgbox {
namespace {

constexpr int kTitleBandBottom = 40;
constexpr int kLowerBandTop = 160;
const QColor kMiddleBand(207, 237, 251);

}  // namespace

QImage BandPicture(Band band) {
    switch (band) {
        case Band::kTitle: {
            QImage image(400, 40, QImage::Format_RGB32);
            QPainter p(&image);
            QLinearGradient g(0, 0, 0, 40);
            g.setColorAt(0, QColor(250, 252, 255));
            g.setColorAt(1, QColor(176, 214, 240));
            p.fillRect(image.rect(), g);
            p.setPen(QPen(QColor(0, 113, 188), 2));
            p.drawLine(0, 39, 400, 39);
            return image;
        }
        case Band::kLower: {
            QImage image(400, 40, QImage::Format_RGB32);
            QPainter p(&image);
            QLinearGradient g(0, 0, 0, 40);
            g.setColorAt(0, QColor(176, 214, 240));
            g.setColorAt(1, QColor(96, 160, 214));
            p.fillRect(image.rect(), g);
            return image;
        }
        case Band::kWarningSign: {
            // White around the sign, so combining it by AND keeps the band.
            QImage image(35, 30, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            QPainterPath triangle;
            triangle.moveTo(17.5, 2);
            triangle.lineTo(33, 28);
            triangle.lineTo(2, 28);
            triangle.closeSubpath();
            p.fillPath(triangle, QColor(250, 200, 0));
            p.setPen(QPen(QColor(60, 40, 0), 1.5));
            p.drawPath(triangle);
            p.fillRect(QRectF(16, 10, 3, 10), Qt::black);
            p.fillRect(QRectF(16, 22, 3, 3), Qt::black);
            return image;
        }
    }
    return {};
}

CPellandraDlg::CPellandraDlg(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint),
      ok_(new QPushButton("OK", this)),
      title_(new QLabel("Warning!", this)),
      message_(new QLabel("The MERIDOX has been installed, please uninstall it and reboot. After "
                          "that, you can install ORV VARKEL software.",
                          this)),
      titleBand_(BandPicture(Band::kTitle)),
      lowerBand_(BandPicture(Band::kLower)),
      sign_(BandPicture(Band::kWarningSign)) {
    setObjectName("102");
    ok_->setObjectName("1");
    title_->setObjectName("1001");
    message_->setObjectName("1002");
    setAttribute(Qt::WA_OpaquePaintEvent);

    QFont titleFont("Arial");
    titleFont.setBold(true);
    titleFont.setPointSize(12);
    title_->setFont(titleFont);
    title_->setStyleSheet("color: rgb(255, 0, 0); background: transparent;");
    QFont messageFont("Arial");
    messageFont.setBold(true);
    messageFont.setPointSize(10);
    message_->setFont(messageFont);
    message_->setWordWrap(true);
    message_->setStyleSheet("color: rgb(0, 113, 188); background: transparent;");

    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    setGeometry(0, 0, kWidth, kHeight);
    move(0, 0);
    Layout();
}

void CPellandraDlg::Layout() {
    // OK keeps 25 pixels to the right edge and 5 to the bottom.
    ok_->setGeometry(width() - 85, height() - 35, 60, 30);
    title_->setGeometry(140, 0, 120, 40);
    message_->setGeometry(20, 70, 360, 60);
}

void CPellandraDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    Layout();
}

void CPellandraDlg::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const int w = width();
    p.drawImage(QRect(0, 0, w, kTitleBandBottom), titleBand_);
    p.drawImage(QRect(0, kLowerBandTop, w, std::max(height() - kLowerBandTop, 0)), lowerBand_);
    p.fillRect(QRect(0, kTitleBandBottom, w, kLowerBandTop - kTitleBandBottom), kMiddleBand);
    p.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
    p.drawImage(QRect(10, 5, 35, 30), sign_);
}

void CPellandraDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    // Like pressing a caption: the window system moves the window; where it
    // cannot, the window follows the mouse itself.
    if (windowHandle() != nullptr && windowHandle()->startSystemMove()) return;
    moveOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void CPellandraDlg::mouseMoveEvent(QMouseEvent* event) {
    if (moveOffset_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - *moveOffset_);
    }
}

void CPellandraDlg::mouseReleaseEvent(QMouseEvent*) {
    moveOffset_.reset();
}

void CPellandraDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The caption-less window has no system menu; its About item lives here.
    QMenu menu(this);
    menu.addAction("关于 Pellandra(&A)...", this,
                   [this] { QMessageBox::about(this, "关于 Pellandra", "Pellandra，1.0 版"); });
    menu.exec(event->globalPos());
}

}  // namespace orv::msgbox
