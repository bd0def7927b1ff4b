#pragma once
#include "app/level_meter.h"

#include <QLabel>
#include <optional>

// The main window's bottom strip: empty with no recording; while one exists, its source in words
// on the left and the level meter on the right, or a warning in its place while only digital
// silence comes in.
namespace larkspur {

class LevelStrip : public QLabel {
public:
    using QLabel::QLabel;

    void ShowRecording(const QString& source, const LevelMeter::Shown& shown);
    void ShowNothing();
    // The source shown while a recording exists, in full.
    const QString& Source() const { return source_; }
    const std::optional<LevelMeter::Shown>& Shown() const { return shown_; }

    static constexpr int kMeterWidth = 150;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect MeterArea() const;

    std::optional<LevelMeter::Shown> shown_;
    QString source_;
};

}  // namespace larkspur
