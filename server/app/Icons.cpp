#include "Icons.h"

#include <QPainter>
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

void InitWharfkeepResources() {
    static const bool bDone = [] {
        Q_INIT_RESOURCE(wharfkeep);
        Q_INIT_RESOURCE(wharfkeep_help);
        return true;
    }();
    (void)bDone;
}

QIcon WharfkeepIcon() {
    InitWharfkeepResources();
    QIcon icon;
    for (int nSize : {16, 32, 48, 64, 128, 256})
        icon.addFile(QString(":/wharfkeep/wharfkeep-%1.png").arg(nSize), QSize(nSize, nSize));
    return icon;
}
