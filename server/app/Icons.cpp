#include "Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace {
QPixmap Canvas(int nSize) {
    QPixmap pixmap(nSize, nSize);
    pixmap.fill(Qt::transparent);
    return pixmap;
}
} // namespace

QIcon ToolIcon(ToolImage image) {
    QPixmap pixmap = Canvas(16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (image) {
    case ToolImage::About: {
        p.setBrush(QColor(0, 0, 160));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(1, 1, 14, 14));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(7, 3.5, 2.2, 2.2));
        p.drawRect(QRectF(7, 7, 2.2, 6));
        break;
    }
    case ToolImage::ContextHelp: {
        QPolygonF arrow({{1, 1}, {1, 12}, {4, 9}, {6.5, 14}, {8, 13.3}, {5.6, 8.4}, {9, 8.4}});
        p.setPen(QPen(Qt::black, 0.8));
        p.setBrush(Qt::white);
        p.drawPolygon(arrow);
        QFont font = p.font();
        font.setPixelSize(10);
        font.setBold(true);
        p.setFont(font);
        p.setPen(QColor(0, 0, 160));
        p.drawText(QRectF(8, 0, 8, 11), Qt::AlignCenter, "?");
        break;
    }
    case ToolImage::StopServing: {
        QPolygonF octagon;
        for (int i = 0; i < 8; ++i) {
            const double a = (22.5 + 45.0 * i) * M_PI / 180.0;
            octagon << QPointF(8 + 7 * std::cos(a), 8 + 7 * std::sin(a));
        }
        p.setPen(QPen(QColor(120, 0, 0), 0.8));
        p.setBrush(QColor(210, 20, 20));
        p.drawPolygon(octagon);
        p.setPen(QPen(Qt::white, 2));
        p.drawLine(QPointF(5, 8), QPointF(11, 8));
        break;
    }
    case ToolImage::StartServing: {
        p.setPen(QPen(QColor(0, 90, 0), 0.8));
        p.setBrush(QColor(20, 170, 40));
        p.drawPolygon(QPolygonF({{3, 2}, {14, 8}, {3, 14}}));
        break;
    }
    }
    p.end();
    return QIcon(pixmap);
}

QIcon WharfkeepIcon() {
    QIcon icon;
    for (int nSize : {16, 32, 48, 64}) {
        QPixmap pixmap = Canvas(nSize);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(nSize / 64.0, nSize / 64.0);
        // Water, a quay and a crate being swung ashore.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 90, 170));
        p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
        p.setBrush(QColor(120, 80, 40));
        p.drawRect(QRectF(2, 40, 60, 10));
        p.setBrush(QColor(90, 60, 30));
        for (int x : {8, 24, 40})
            p.drawRect(QRectF(x, 50, 6, 12));
        p.setPen(QPen(QColor(240, 240, 240), 3));
        p.drawLine(QPointF(46, 40), QPointF(46, 10));
        p.drawLine(QPointF(46, 10), QPointF(20, 10));
        p.drawLine(QPointF(24, 10), QPointF(24, 20));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(250, 190, 40));
        p.drawRect(QRectF(16, 20, 16, 14));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
