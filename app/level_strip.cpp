#include "app/level_strip.h"

#include <QPaintEvent>
#include <QPainter>

namespace larkspur {

namespace {

constexpr int kMargin = 3;
constexpr int kClipBox = 5;
const QColor kTrack(0x30, 0x30, 0x30);

QColor ColourAt(double db) {
    if (db > -6) return QColor(0xd8, 0x30, 0x30);
    if (db > -18) return QColor(0xd8, 0xc0, 0x30);
    return QColor(0x40, 0xb0, 0x40);
}

}  // namespace

void LevelStrip::ShowRecording(const QString& source, const LevelMeter::Shown& shown) {
    if (source != source_) {
        const int room = width() - kMeterWidth - 3 * kMargin;
        source_ = source;
        setText(QStringLiteral(" ") + fontMetrics().elidedText(source, Qt::ElideRight, room));
    }
    shown_ = shown;
    // Only the meter is painted anew, at once: the source's words stay as they are, and no
    // second pass of the event loop is needed for it.
    repaint(MeterArea());
}

QRect LevelStrip::MeterArea() const { return {width() - kMeterWidth - kMargin, 2, kMeterWidth, height() - 4}; }

void LevelStrip::ShowNothing() {
    shown_.reset();
    source_.clear();
    clear();
}

void LevelStrip::paintEvent(QPaintEvent* event) {
    // A repaint of the meter alone leaves the words as they are.
    if (!MeterArea().contains(event->rect())) QLabel::paintEvent(event);
    if (!shown_) return;
    QPainter p(this);
    const QRect area = MeterArea();
    if (shown_->silent) {
        p.setPen(QColor(0xc0, 0x20, 0x20));
        p.drawText(area, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Silence: nothing comes in"));
        return;
    }
    const int bars = int(shown_->bars.size());
    const int gap = 1;
    const int barHeight = (area.height() - gap * (bars - 1)) / bars;
    const int scale = area.width() - kClipBox - 2;
    for (int c = 0; c < bars; ++c) {
        const LevelMeter::Bar& bar = shown_->bars[std::size_t(c)];
        const int y = area.top() + c * (barHeight + gap);
        const auto x = [&](double db) {
            return int((db - LevelMeter::kFloorDb) / -LevelMeter::kFloorDb * scale + 0.5);
        };
        p.fillRect(area.left(), y, scale, barHeight, kTrack);
        // The bar in its zones' colours, up to the level.
        for (const auto& [from, to] : {std::pair{LevelMeter::kFloorDb, -18.0}, {-18.0, -6.0}, {-6.0, 0.0}}) {
            const double top = std::min(bar.db, to);
            if (top > from) p.fillRect(area.left() + x(from), y, x(top) - x(from), barHeight, ColourAt(top));
        }
        if (bar.holdDb > LevelMeter::kFloorDb)
            p.fillRect(area.left() + std::max(0, x(bar.holdDb) - 2), y, 2, barHeight, ColourAt(bar.holdDb).lighter(130));
        p.fillRect(area.right() - kClipBox + 1, y, kClipBox, barHeight,
                   bar.clipped ? QColor(0xff, 0x20, 0x20) : kTrack);
    }
}

}  // namespace larkspur
