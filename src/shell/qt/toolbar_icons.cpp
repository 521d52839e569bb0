#include "shell/qt/toolbar_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

#include <cmath>

namespace zk {

namespace {

// Every image is drawn on a 16 x 16 grid and scaled, so each size is drawn
// afresh rather than resampled.
constexpr double kGrid = 16.0;

const QColor kInk(40, 40, 48);

QPen pen(const QColor& colour, double width = 1.0) {
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void shape(QPainter& p, const QPolygonF& poly, const QColor& fill, const QColor& edge) {
    p.setPen(pen(edge));
    p.setBrush(fill);
    p.drawPolygon(poly);
}

// A fat arrow pointing right; mirrored for left.
void arrow(QPainter& p, bool left, const QColor& fill, const QColor& edge) {
    p.save();
    if (left) {
        p.translate(kGrid, 0);
        p.scale(-1, 1);
    }
    shape(p, QPolygonF({{1.5, 6}, {8, 6}, {8, 2.5}, {14.5, 8}, {8, 13.5}, {8, 10}, {1.5, 10}}), fill, edge);
    p.restore();
}

// An arrow along the vertical, tip at `tip_y`, for looking up and down.
void vertical_arrow(QPainter& p, double tip_y, double tail_y) {
    const double head = tip_y < tail_y ? tip_y + 5 : tip_y - 5;
    shape(p, QPolygonF({{6.5, tail_y}, {6.5, head}, {3, head}, {8, tip_y}, {13, head}, {9.5, head}, {9.5, tail_y}}),
          QColor(66, 120, 214), QColor(22, 52, 120));
}

void horizon(QPainter& p, double y) {
    p.setPen(pen(QColor(46, 130, 60), 1.5));
    p.drawLine(QPointF(1, y), QPointF(15, y));
}

void eye(QPainter& p) {
    QPainterPath lid;
    lid.moveTo(1, 8);
    lid.quadTo(8, 0.5, 15, 8);
    lid.quadTo(8, 15.5, 1, 8);
    p.setPen(pen(kInk));
    p.setBrush(Qt::white);
    p.drawPath(lid);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(52, 110, 170));
    p.drawEllipse(QPointF(8, 8), 3.2, 3.2);
    p.setBrush(kInk);
    p.drawEllipse(QPointF(8, 8), 1.5, 1.5);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(9.1, 6.9), 0.7, 0.7);
}

// A small figure seen from behind: hair, shoulders and back.
void figure(QPainter& p) {
    QPainterPath body;
    body.moveTo(3, 15.5);
    body.lineTo(3.5, 10.5);
    body.quadTo(4, 8, 8, 8);
    body.quadTo(12, 8, 12.5, 10.5);
    body.lineTo(13, 15.5);
    body.closeSubpath();
    p.setPen(pen(QColor(20, 50, 100)));
    p.setBrush(QColor(70, 120, 200));
    p.drawPath(body);
    p.setPen(pen(QColor(40, 24, 12)));
    p.setBrush(QColor(84, 52, 28));
    p.drawEllipse(QPointF(8, 4.5), 3, 3.2);
}

void pointer(QPainter& p) {
    shape(p, QPolygonF({{4, 1}, {4, 13.5}, {7, 10.7}, {9.2, 15}, {11.2, 14}, {9, 9.8}, {13, 9.8}}), Qt::white, kInk);
}

void envelope_flap(QPainter& p, const QRectF& r) {
    p.setPen(pen(QColor(120, 90, 40)));
    p.drawPolyline(QPolygonF({r.topLeft(), {r.center().x(), r.center().y() + 0.5}, r.topRight()}));
}

void send_telegram(QPainter& p) {
    const QRectF r(1.5, 2.5, 11, 8);
    p.setPen(pen(QColor(120, 90, 40)));
    p.setBrush(QColor(246, 232, 182));
    p.drawRect(r);
    envelope_flap(p, r);
    shape(p, QPolygonF({{7, 11.5}, {10.5, 11.5}, {10.5, 9}, {15, 12.5}, {10.5, 16}, {10.5, 13.5}, {7, 13.5}}),
          QColor(214, 60, 40), QColor(110, 24, 14));
}

void read_telegram(QPainter& p) {
    const QColor paper(246, 232, 182), edge(120, 90, 40);
    // The open flap behind, the letter half out, the pocket in front.
    shape(p, QPolygonF({{1.5, 7.5}, {8, 2}, {14.5, 7.5}}), paper.darker(112), edge);
    p.setPen(pen(kInk));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(3.5, 3.5, 9, 7));
    p.setPen(pen(QColor(120, 120, 140), 0.8));
    for (double y : {5.5, 7.3}) p.drawLine(QPointF(5, y), QPointF(11, y));
    shape(p, QPolygonF({{1.5, 7.5}, {8, 11.5}, {14.5, 7.5}, {14.5, 14.5}, {1.5, 14.5}}), paper, edge);
}

void stop(QPainter& p) {
    QPolygonF octagon;
    for (int i = 0; i < 8; ++i) {
        const double a = (22.5 + 45.0 * i) * M_PI / 180.0;
        octagon << QPointF(8 + 7 * std::cos(a), 8 + 7 * std::sin(a));
    }
    shape(p, octagon, QColor(210, 40, 36), QColor(110, 14, 12));
    p.setPen(pen(Qt::white, 2));
    p.drawLine(QPointF(5.2, 5.2), QPointF(10.8, 10.8));
    p.drawLine(QPointF(10.8, 5.2), QPointF(5.2, 10.8));
}

void refresh(QPainter& p) {
    const QColor green(40, 140, 60);
    const double r = 5, start = 60, span = 280;  // degrees, counter-clockwise
    p.setPen(pen(green, 2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(8 - r, 8 - r, 2 * r, 2 * r), int(start * 16), int(span * 16));
    // The head at the end of the arc, pointing along it.
    const double end = (start + span) * M_PI / 180.0;
    const QPointF at(8 + r * std::cos(end), 8 - r * std::sin(end));
    const QPointF along(-std::sin(end), -std::cos(end)), across(std::cos(end), -std::sin(end));
    p.setPen(pen(green, 1));
    p.setBrush(green);
    p.drawPolygon(QPolygonF({at + along * 3, at + across * 2.6, at - across * 2.6}));
}

void globe(QPainter& p) {
    const QColor line(20, 60, 120);
    QPainterPath ball;
    ball.addEllipse(QPointF(8, 8), 6.8, 6.8);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(96, 160, 230));
    p.drawPath(ball);
    p.save();
    p.setClipPath(ball);
    // Land, then a light grid over it: at 16 pixels more lines would blur.
    p.setBrush(QColor(70, 160, 80));
    p.drawEllipse(QPointF(5.5, 6), 2.6, 2.2);
    p.drawEllipse(QPointF(10.5, 11), 2.4, 1.8);
    p.setPen(pen(QColor(230, 240, 255, 200), 0.8));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(8, 8), 3.2, 6.8);
    p.drawLine(QPointF(0, 8), QPointF(16, 8));
    p.restore();
    p.setPen(pen(line, 1.1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(ball);
}

bool draw(QPainter& p, int command) {
    const QColor teleport(150, 90, 200), teleport_edge(70, 30, 110);
    const QColor web(60, 170, 80), web_edge(20, 84, 30);
    switch (command) {
    case 107: arrow(p, true, teleport, teleport_edge); break;
    case 106: arrow(p, false, teleport, teleport_edge); break;
    case 134: arrow(p, true, web, web_edge); break;
    case 135: arrow(p, false, web, web_edge); break;
    case 124:
        horizon(p, 13.5);
        vertical_arrow(p, 1.5, 12);
        break;
    case 125:
        horizon(p, 2.5);
        vertical_arrow(p, 14.5, 4);
        break;
    case 131:
        horizon(p, 8);
        shape(p, QPolygonF({{4.5, 2}, {11.5, 2}, {8, 6}}), QColor(66, 120, 214), QColor(22, 52, 120));
        shape(p, QPolygonF({{4.5, 14}, {11.5, 14}, {8, 10}}), QColor(66, 120, 214), QColor(22, 52, 120));
        break;
    case 126: eye(p); break;
    case 127: figure(p); break;
    case 118: pointer(p); break;
    case 146: send_telegram(p); break;
    case 147: read_telegram(p); break;
    case 136: stop(p); break;
    case 137: refresh(p); break;
    case 139: globe(p); break;
    default: return false;
    }
    return true;
}

}  // namespace

QIcon toolbar_icon(int command) {
    QIcon icon;
    for (int size : {16, 32})
        for (int ratio : {1, 2}) {
            QPixmap image(size * ratio, size * ratio);
            image.setDevicePixelRatio(ratio);
            image.fill(Qt::transparent);
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(size / kGrid, size / kGrid);
            if (!draw(p, command)) return {};
            p.end();
            icon.addPixmap(image);
        }
    return icon;
}

}  // namespace zk
