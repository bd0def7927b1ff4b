#include "config/recording_control_window.h"

#include "platform/error_box.h"
#include "platform/shell.h"
#include "platform/sound_sources.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace larkspur {
namespace {

constexpr int kRefreshMs = 50;       // a meter that moves smoothly
constexpr double kFloorDb = -60;     // the empty bar

int BarOf(double peak) {
    const double db = peak > 0 ? 20 * std::log10(peak) : kFloorDb;
    return int(std::lround(std::clamp((db - kFloorDb) / -kFloorDb, 0.0, 1.0) * 100));
}

}  // namespace

RecordingControlWindow::RecordingControlWindow(std::unique_ptr<SoundSources> sources, QWidget* parent)
    : QDialog(parent), sources_(std::move(sources)) {
    setWindowTitle(QStringLiteral("Recording Control"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    auto* list = new QWidget;
    rows_ = new QVBoxLayout(list);
    rows_->addStretch();
    auto* scroll = new QScrollArea;
    scroll->setWidget(list);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    layout->addWidget(scroll);

    auto* buttons = new QDialogButtonBox;
    // The desktop's own mixer, for what this window does not do (volumes, devices' profiles).
    if (TheShell().HasVolumeControl()) {
        QPushButton* full = buttons->addButton(QStringLiteral("Sound Settings"), QDialogButtonBox::ActionRole);
        connect(full, &QPushButton::clicked, this, [] { Guarded([] { TheShell().StartVolumeControl(); }); });
    }
    QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    layout->addWidget(buttons);

    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] { Guarded([&] { Refresh(); }); });
    timer->start(kRefreshMs);
    Refresh();
    resize(380, 420);
}

RecordingControlWindow::~RecordingControlWindow() = default;

RecordingControlWindow::Row RecordingControlWindow::MakeRow(const SoundSource& source) {
    const QString text = QString::fromStdString(source.text);
    Row row{source.source, new QGroupBox(text), new QProgressBar, new QCheckBox(QStringLiteral("Select"))};
    auto* layout = new QHBoxLayout(row.box);
    const QIcon icon = source.icon.empty() ? QIcon() : QIcon::fromTheme(QString::fromStdString(source.icon));
    if (!icon.isNull()) {
        auto* picture = new QLabel;
        picture->setPixmap(icon.pixmap(24, 24));
        picture->setAccessibleName(text);
        layout->addWidget(picture);
    }
    row.level->setRange(0, 100);
    row.level->setTextVisible(false);
    row.level->setAccessibleName(QStringLiteral("Level"));
    row.level->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(row.level, 1);
    layout->addWidget(row.select);
    row.box->setAccessibleName(text);
    row.select->setAccessibleName(row.select->text());
    row.select->installEventFilter(this);
    // Every row selected is recorded, mixed. The last one selected stays selected: a recording
    // always has a source the user chose.
    connect(row.select, &QCheckBox::toggled, this, [this, source = source.source](bool checked) {
        if (showing_) return;
        Guarded([&] {
            CaptureSources chosen = ChosenCaptureSources();
            if (checked) chosen.push_back(source);
            else if (chosen.size() > 1) std::erase(chosen, source);
            ChooseCaptureSources(InRowOrder(chosen));
            Refresh();
        });
    });
    return row;
}

void RecordingControlWindow::Refresh() {
    const std::vector<SoundSource> now = sources_->Now();
    const CaptureSources chosen = ChosenCaptureSources();
    shownOrder_.clear();
    showing_ = true;
    std::map<std::string, Row> kept;
    int position = 0;
    for (const SoundSource& source : now) {
        const std::string key = KeyOf(source.source);
        auto found = shown_.find(key);
        Row row = found != shown_.end() ? found->second : MakeRow(source);
        if (found != shown_.end()) shown_.erase(found);
        if (rows_->indexOf(row.box) != position) {
            rows_->removeWidget(row.box);
            rows_->insertWidget(position, row.box);
        }
        ++position;
        row.level->setValue(BarOf(source.level));
        row.select->setChecked(std::find(chosen.begin(), chosen.end(), source.source) != chosen.end());
        shownOrder_.push_back(source.source);
        kept.emplace(key, row);
    }
    // What went: a device unplugged, a program that stopped playing.
    // Later: the box gone may be the one whose signal runs this.
    for (auto& [key, row] : shown_) {
        rows_->removeWidget(row.box);
        row.box->hide();
        row.box->deleteLater();
    }
    shown_ = std::move(kept);
    showing_ = false;
}

// The rows' order, which puts "Stereo Mix" first: the recording runs on the first one's clock.
CaptureSources RecordingControlWindow::InRowOrder(CaptureSources chosen) const {
    const auto rank = [this](const CaptureSource& source) {
        return std::find(shownOrder_.begin(), shownOrder_.end(), source) - shownOrder_.begin();
    };
    std::stable_sort(chosen.begin(), chosen.end(),
                     [&](const CaptureSource& a, const CaptureSource& b) { return rank(a) < rank(b); });
    return chosen;
}

bool RecordingControlWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    const int step = key == Qt::Key_Down || key == Qt::Key_Right ? 1 : key == Qt::Key_Up || key == Qt::Key_Left ? -1 : 0;
    if (step == 0) return QDialog::eventFilter(watched, event);
    std::vector<QCheckBox*> boxes;  // in the rows' order
    for (int i = 0; i < rows_->count(); ++i)
        if (auto* box = qobject_cast<QGroupBox*>(rows_->itemAt(i)->widget())) boxes.push_back(box->findChild<QCheckBox*>());
    const auto at = std::find(boxes.begin(), boxes.end(), watched);
    if (at == boxes.end()) return false;
    const auto next = at - boxes.begin() + step;
    if (next >= 0 && next < std::ptrdiff_t(boxes.size())) boxes[std::size_t(next)]->setFocus(Qt::TabFocusReason);
    return true;
}

}  // namespace larkspur
