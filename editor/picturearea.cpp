#include "picturearea.h"

#include <QPainter>

PictureArea::PictureArea(QWidget* parent) : QWidget(parent) {}

void PictureArea::setPicture(const QImage& picture) {
    m_picture = picture;
    update();
}

void PictureArea::clear() {
    m_picture = QImage();
    update();
}

QRect PictureArea::pictureRect() const {
    if (m_picture.isNull())
        return {};
    const QSize fitted = m_picture.size().scaled(size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
}

void PictureArea::paintEvent(QPaintEvent*) {
    if (m_picture.isNull())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(pictureRect(), m_picture);
}
