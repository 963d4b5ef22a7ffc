#pragma once

#include <QImage>
#include <QWidget>

// The image area: shows at most one picture, scaled to the largest size that fits with its
// proportions kept (whole pixels), centred.
class PictureArea final : public QWidget {
    Q_OBJECT
public:
    explicit PictureArea(QWidget* parent = nullptr);
    void setPicture(const QImage& picture);
    void clear();
    const QImage& picture() const { return m_picture; }  // null when empty
    // The rectangle the picture is drawn in, inside the area.
    QRect pictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_picture;
};
