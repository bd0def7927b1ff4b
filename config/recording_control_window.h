#pragma once
#include "platform/capture_source.h"

#include <QDialog>

#include <map>
#include <memory>
#include <string>

class QCheckBox;
class QGroupBox;
class QProgressBar;
class QVBoxLayout;

namespace larkspur {

class SoundSources;
struct SoundSource;

// "Recording Control": what the recorder records, chosen by a person. One row per source the
// sound server offers ("Stereo Mix", the inputs, the programs playing), each with its live level
// and a "Select" box; several selected are recorded mixed. A choice applies at once, also during a recording, and holds for the rest
// of the run. It shows the selection as it stands, also one made in another mixer. Works from the
// keyboard alone: Tab, the arrows between rows, Space selects, Escape closes.
class RecordingControlWindow : public QDialog {
    Q_OBJECT
public:
    explicit RecordingControlWindow(std::unique_ptr<SoundSources> sources, QWidget* parent = nullptr);
    ~RecordingControlWindow() override;

private:
    struct Row {
        CaptureSource source;
        QGroupBox* box;
        QProgressBar* level;
        QCheckBox* select;
    };

    // The rows, their levels and the selection as they stand now.
    void Refresh();
    Row MakeRow(const SoundSource& source);
    CaptureSources InRowOrder(CaptureSources chosen) const;
    // The arrows move between the rows' "Select" boxes; they select nothing.
    bool eventFilter(QObject* watched, QEvent* event) override;

    std::unique_ptr<SoundSources> sources_;
    QVBoxLayout* rows_;
    std::map<std::string, Row> shown_;  // by the source's key
    CaptureSources shownOrder_;         // the rows' sources, top to bottom
    bool showing_ = false;              // the selection is being shown, not made
};

}  // namespace larkspur
