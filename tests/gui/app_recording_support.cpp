#include "tests/gui/app_recording_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QSettings>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <cstring>

namespace larkspur::test {

SystemTime ManualClock::LocalTime() {
    using namespace std::chrono;
    const auto day = floor<days>(wall_);
    const year_month_day ymd{day};
    const hh_mm_ss hms{wall_ - day};
    return SystemTime{static_cast<std::uint16_t>(int(ymd.year())),
                      static_cast<std::uint16_t>(unsigned(ymd.month())),
                      static_cast<std::uint16_t>(weekday{day}.c_encoding()),
                      static_cast<std::uint16_t>(unsigned(ymd.day())),
                      static_cast<std::uint16_t>(hms.hours().count()),
                      static_cast<std::uint16_t>(hms.minutes().count()),
                      static_cast<std::uint16_t>(hms.seconds().count()),
                      static_cast<std::uint16_t>(hms.subseconds().count())};
}

void ManualClock::SetLocal(int year, int month, int day, int hour, int minute, int second) {
    using namespace std::chrono;
    wall_ = sys_days{std::chrono::year{year} / month / day} + hours{hour} + minutes{minute} + seconds{second};
}

void RecorderTest::SetUp() {
    ASSERT_TRUE(dir_.isValid());
    clock_.SetLocal(2006, 3, 7, 14, 5, 9);
    SetClockForTest(&clock_);
    SetApplicationTitle(QStringLiteral("Larkspur"));
    form_ = std::make_unique<TForm1>(capture_, Dir());
    audioOptions_ = std::make_unique<TAudioOptionForm>([](int) {});
    generalOptions_ = std::make_unique<TGeneralOptionForm>();
    form_->SetOptionDialogs(generalOptions_.get(), audioOptions_.get(), &keyOptions_);
    ChooseFormat(0, 0, 0);
    ChooseMp3(false);
    ChooseAskForName(false);
    ChoosePlay(false);
}

void RecorderTest::ChooseFormat(int rateIndex, int sizeIndex, int trackIndex) {
    audioOptions_->ComboBox1->setCurrentIndex(rateIndex);
    audioOptions_->ComboBox2->setCurrentIndex(sizeIndex);
    audioOptions_->ComboBox3->setCurrentIndex(trackIndex);
}

void RecorderTest::ChooseMp3(bool mp3) { (mp3 ? audioOptions_->RadioButton2 : audioOptions_->RadioButton1)->setChecked(true); }

void RecorderTest::ChooseAskForName(bool ask) {
    (ask ? generalOptions_->RadioButton5 : generalOptions_->RadioButton6)->setChecked(true);
}

void RecorderTest::ChoosePlay(bool play) { generalOptions_->CheckBox1->setChecked(play); }

void RecorderTest::TearDown() {
    CancelPendingDialogActions();
    form_.reset();
    SetClockForTest(nullptr);
}

QStringList RecorderTest::Files() const {
    return QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

void RecorderTest::Pass(std::chrono::milliseconds d) {
    clock_.Advance(d);
    capture_->Advance(d);
}

void RecorderTest::Ticks(int n) {
    for (int i = 0; i < n; ++i) {
        Pass(500ms);
        form_->Timer1Timer();
    }
}

void RecorderTest::RecordFor(std::chrono::seconds s) { Ticks(static_cast<int>(s.count() * 2)); }

std::vector<MessageBoxRequest> RecorderTest::TakeBoxes() { return std::exchange(boxes_, {}); }

namespace {
// Actions waiting for a Save dialog; a test that ends before its dialog showed cancels its own,
// so that none fires inside a later test.
std::vector<QPointer<QTimer>> pendingDialogActions;
}  // namespace

void WhenSaveDialogShows(std::function<void(QFileDialog*)> act) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act = std::move(act)] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        act(dialog);
    });
    pendingDialogActions.emplace_back(timer);
    timer->start();
}

void CancelPendingDialogActions() {
    for (const QPointer<QTimer>& timer : pendingDialogActions) delete timer.data();
    pendingDialogActions.clear();
}

// A helper that cannot do its part closes the dialog: a modal dialog left up would hold the test.
void TypeAndAccept(QFileDialog* dialog, const QString& name) {
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* box = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    if (!edit || !box) {
        dialog->reject();
        FAIL() << "the Save dialog has no file-name box or no buttons";
    }
    edit->setText(name);
    for (QAbstractButton* b : box->buttons()) {
        if (box->buttonRole(b) != QDialogButtonBox::AcceptRole) continue;
        if (!b->isEnabled()) break;
        b->click();
        return;
    }
    dialog->reject();
    FAIL() << "the Save dialog's accept button is missing or disabled";
}

void Cancel(QFileDialog* dialog) {
    auto* box = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QAbstractButton* cancel = box ? box->button(QDialogButtonBox::Cancel) : nullptr;
    if (!cancel) {
        dialog->reject();
        FAIL() << "the Save dialog has no Cancel button";
    }
    cancel->click();
}

long WaveMilliseconds(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray b = f.readAll();
    if (b.size() < 44 || !b.startsWith("RIFF") || b.mid(8, 8) != "WAVEfmt " || b.mid(36, 4) != "data") return -1;
    auto u32 = [&](int at) {
        std::uint32_t v;
        std::memcpy(&v, b.constData() + at, 4);
        return v;
    };
    if (u32(4) != std::uint32_t(b.size() - 8) || u32(40) != std::uint32_t(b.size() - 44)) return -1;
    return static_cast<long>(std::uint64_t(u32(40)) * 1000 / u32(28));
}

}  // namespace larkspur::test

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The Save dialog keeps its history in Qt's user settings: here, not in the user's home.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
