// The main window's layout, its sliders built from the control table, timers, sample loading,
// recording and the quit path.
#include "vexla/ui/LoopMachineWindow.h"

#include "common/WavRecorder.h"
#include "vexla/controls/Controls.h"
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/Scene.h"
#include "vexla/samples/SampleLoader.h"
#include "vexla/samples/SampleSlot.h"
#include "vexla/scene/SceneFile.h"
#include "vexla/ui/AboutDialog.h"
#include "vexla/ui/DialogProvider.h"
#include "vexla/ui/DialogUnits.h"
#include "vexla/ui/Pictures.h"
#include "vexla/ui/SettingsDialog.h"
#include "vexla/ui/StartDialog.h"
#include "vexla/ui/StepLamps.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSettings>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <mutex>
#include <span>
#include <tuple>

namespace vexla {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kStepsTextLimit = 14; // characters of the Steps box that "Set step!" reads
const char* const kTitle = "- Vexla - R7 - by the Vexla and Zintor authors";

// Leading decimal digits of at most kStepsTextLimit characters; none give 0. Saturates far above 64.
int leadingNumber(const QString& text) {
    int value = 0;
    for (QChar c : text.left(kStepsTextLimit)) {
        if (!c.isDigit() || c.digitValue() < 0)
            break;
        value = std::min(value * 10 + c.digitValue(), 1000000);
    }
    return value;
}

} // namespace

LoopMachineWindow::LoopMachineWindow(LoopEngine& engine, common::WavRecorder& recorder, audio::Output& audio,
                                     DialogProvider& dialogs, std::uint32_t seed, QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      engine_(engine), recorder_(recorder), audio_(audio), sound_(engine), dialogs_(dialogs),
      history_(engine) {
    setObjectName(QStringLiteral("loopMachineWindow"));
    clipOnLamp_ = clipLamp(true, devicePixelRatioF());
    clipOffLamp_ = clipLamp(false, devicePixelRatioF());
    initSlot(engine_.secondSlot);
    initSlot(engine_.drySlot);
    initSlot(engine_.slicerSlot);
    engine_.setRecorder(&recorder_); // before any stream runs
    engine_.setMidi(&sync_.bus);
    // The tempo the display shows, in frames a sixteenth: what JACK transport hears while this program
    // leads it, and what it follows without a timebase master. A followed tempo then maps back onto the
    // same slider position, so that the window cannot walk the tempo away a step at each refresh.
    sync_.transport.setOwnTempo(
        [](const void* engine) {
            const int samplesPerStep =
                static_cast<const LoopEngine*>(engine)->params.samplesPerStep.load(kRelaxed);
            return 44100.0 * 60.0 * samplesPerStep / kTempoConstant;
        },
        &engine_);

    buildControls();
    startUp(engine_, windowRandom_, seed);
    settings_ = AudioSettings{};
    positionSliders();

    setWindowTitle(QString::fromUtf8(kTitle));
    setWindowIcon(programIcon());
    stepsEdit_->setText(QString::asprintf("%d", engine_.params.stepCount.load(kRelaxed)));
    tempoDisplay_->setText(tempoText(engine_.params.samplesPerStep.load(kRelaxed)));

    lampTimer_ = new QTimer(this);
    statusTimer_ = new QTimer(this);
    connect(lampTimer_, &QTimer::timeout, this, &LoopMachineWindow::refreshLamp);
    connect(lampTimer_, &QTimer::timeout, this, &LoopMachineWindow::refreshPlaying);
    connect(statusTimer_, &QTimer::timeout, this, &LoopMachineWindow::refreshStatus);
}

LoopMachineWindow::~LoopMachineWindow() = default;

void LoopMachineWindow::start() {
    StartDialog startDialog(this);
    dialogs_.run(startDialog); // however it closes, start-up goes on
    startStream();
    lampTimer_->start(kLampTimerMs);
    statusTimer_->start(kStatusTimerMs);
}

double LoopMachineWindow::bpmOf(int samplesPerStep) {
    return kTempoConstant / (4.0 * samplesPerStep);
}

QString LoopMachineWindow::tempoText(int samplesPerStep) {
    return QString::asprintf("%.1f", bpmOf(samplesPerStep));
}

// ---- Layout ---------------------------------------------------------------------------------------

QSlider* LoopMachineWindow::addSlider(const DialogUnits& du, const Control& control) {
    const SliderLook& look = control.look;
    auto* slider = new QSlider(look.vertical ? Qt::Vertical : Qt::Horizontal, this);
    slider->setObjectName(QString::fromUtf8(control.objectName));
    slider->setAccessibleName(QString::fromUtf8(control.caption));
    slider->setToolTip(slider->accessibleName());
    slider->setGeometry(du.rect(look.x, look.y, look.width, look.height));
    const QSignalBlocker blocker(slider); // values are applied only once the engine has started up
    slider->setRange(control.lowestPosition, control.highestPosition);
    slider->setSingleStep(look.singleStep);
    const int range = control.highestPosition - control.lowestPosition;
    slider->setPageStep(look.pageStep > 0 ? look.pageStep : std::max(1, range / 8));
    slider->setInvertedAppearance(look.inverted);
    slider->setInvertedControls(look.inverted);
    if (look.ticks) {
        slider->setTickPosition(QSlider::TicksBelow);
        slider->setTickInterval(1);
    }
    return slider;
}

QPushButton* LoopMachineWindow::addButton(const char* objectName, const QString& caption, QRect rect) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(QString::fromUtf8(objectName));
    button->setAccessibleName(caption);
    button->setAutoDefault(false); // Enter presses nothing in this window
    button->setDefault(false);
    button->setGeometry(rect);
    return button;
}

QLabel* LoopMachineWindow::addLabel(const QString& text, QRect rect) {
    auto* label = new QLabel(text, this);
    label->setGeometry(rect);
    return label;
}

void LoopMachineWindow::addLoader(int row, const char* objectName, const char* accessibleName,
                                  SampleSlot& slot, int x, int y) {
    const DialogUnits du(font());
    LoaderRow& loader = loaders_[row];
    loader.slot = &slot;
    loader.button = addButton(objectName, QStringLiteral("..."), du.rect(x, y, 16, 16));
    loader.button->setAccessibleName(QString::fromUtf8(accessibleName));
    loader.button->setToolTip(loader.button->accessibleName());
    loader.name = addLabel(QStringLiteral("empty"), du.rect(66, y + 11, 128, 8));
    loader.name->setObjectName(
        QString::fromUtf8(objectName).replace(QStringLiteral("LoadButton"), QStringLiteral("SampleName")));
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    loader.name->setFont(small);
    loader.name->setForegroundRole(QPalette::PlaceholderText);
    // The name a screen reader reads is the label's text, the file; the description says whose it is.
    loader.name->setAccessibleDescription(QString::fromUtf8(accessibleName).section(QLatin1Char(' '), 1));
    connect(loader.button, &QPushButton::clicked, this, [this, row] { loadSample(row); });
}

void LoopMachineWindow::buildControls() {
    const DialogUnits du(font());
    setFixedSize(du.x(336), du.y(345));
    auto* control = new QGroupBox(QStringLiteral("Control"), this);
    control->setGeometry(du.rect(4, 4, 288, 284));
    auto* bpm = new QGroupBox(QStringLiteral("BPM"), this);
    bpm->setGeometry(du.rect(296, 4, 36, 284));
    auto* master = new QGroupBox(QStringLiteral("Master"), this);
    master->setGeometry(du.rect(220, 36, 68, 156));
    control->lower();
    bpm->lower();

    buildSliders(du);
    buildPatternRows(du);
    buildSamplePlayers(du);
    buildOutputColumn(du);
    buildBottomRow(du);
    buildMenu();
    orderTabsByPlace();
}

void LoopMachineWindow::buildSliders(const DialogUnits& du) {
    const std::span<const Control> table = controls();
    sliders_.assign(table.size(), nullptr);
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].widget != ControlWidget::Slider)
            continue;
        sliders_[i] = addSlider(du, table[i]);
        connect(sliders_[i], &QSlider::valueChanged, this, [this, i] { applyControl(i); });
    }
}

// The pattern buttons, the step count and one row per voice with its button beside its level.
void LoopMachineWindow::buildPatternRows(const DialogUnits& du) {
    auto* sequenceButton = addButton("sequenceButton", QStringLiteral("Sequence"), du.rect(8, 16, 52, 16));
    auto* amButton = addButton("amAlterButton", QStringLiteral("AM Alter"), du.rect(64, 16, 50, 16));
    auto* echoButton = addButton("echoAlterButton", QStringLiteral("Echo Alter"), du.rect(118, 16, 50, 16));
    auto* stepsLabel = addLabel(QStringLiteral("Steps"), du.rect(174, 19, 22, 10));
    const Control& steps = *findControl("stepCount");
    stepsEdit_ = new QLineEdit(this);
    stepsEdit_->setObjectName(QString::fromUtf8(steps.objectName));
    stepsEdit_->setAccessibleName(QString::fromUtf8(steps.caption));
    stepsEdit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), stepsEdit_));
    stepsEdit_->setGeometry(du.rect(steps.look.x, steps.look.y, steps.look.width, steps.look.height));
    stepsLabel->setBuddy(stepsEdit_);
    auto* setStepButton = addButton("setStepButton", QStringLiteral("Set step!"), du.rect(230, 16, 58, 16));
    connect(sequenceButton, &QPushButton::clicked, this, &LoopMachineWindow::sequence);
    connect(amButton, &QPushButton::clicked, this, [this] { pressReRoll("AM Alter"); });
    connect(echoButton, &QPushButton::clicked, this, [this] { pressReRoll("Echo Alter"); });
    connect(setStepButton, &QPushButton::clicked, this, &LoopMachineWindow::setStep);

    const struct {
        const char* name;
        const char* caption;
        int y;
    } voices[] = {
        {"kickButton", "Kick", 36},
        {"bassline1Button", "Bassline 1", 56},
        {"bassline2Button", "Bassline 2", 76},
        {"sineButton", "Sine", 96},
        {"hiHatsButton", "HiHats", 116},
    };
    for (const auto& row : voices) {
        auto* button = addButton(row.name, QString::fromUtf8(row.caption), du.rect(8, row.y, 52, 16));
        connect(button, &QPushButton::clicked, this, [this, caption = row.caption] { pressReRoll(caption); });
    }
}

// The sample players: the captions and buttons beside their levels, and the "..." loaders.
void LoopMachineWindow::buildSamplePlayers(const DialogUnits& du) {
    addLabel(QStringLiteral("Dry Looper"), du.rect(8, 139, 54, 10));
    addLoader(0, "dryLooperLoadButton", "Load Dry Looper sample", engine_.drySlot, 196, 136);
    auto* secondButton =
        addButton("secondLooperButton", QStringLiteral("2nd Looper"), du.rect(8, 156, 52, 16));
    addLoader(1, "secondLooperLoadButton", "Load 2nd Looper sample", engine_.secondSlot, 196, 156);
    auto* slicerButton = addButton("slicerButton", QStringLiteral("Slicer"), du.rect(8, 176, 52, 16));
    addLoader(2, "slicerLoadButton", "Load Slicer sample", engine_.slicerSlot, 196, 176);
    addLabel(QStringLiteral("VCF Looper 1"), du.rect(8, 207, 54, 10));
    addLoader(3, "vcfLooper1LoadButton", "Load VCF Looper 1 sample", engine_.vcf1Slot, 196, 204);
    addLabel(QStringLiteral("VCF Looper 2"), du.rect(8, 236, 54, 10));
    addLoader(4, "vcfLooper2LoadButton", "Load VCF Looper 2 sample", engine_.vcf2Slot, 196, 233);
    addLabel(QStringLiteral("Transpose"), du.rect(8, 266, 54, 10));
    connect(secondButton, &QPushButton::clicked, this, [this] { pressReRoll("2nd Looper"); });
    connect(slicerButton, &QPushButton::clicked, this, [this] { pressReRoll("Slicer"); });
}

// The tempo display, the output meters beside the master level, the clip lamp and Run.
void LoopMachineWindow::buildOutputColumn(const DialogUnits& du) {
    tempoDisplay_ = addLabel(QStringLiteral("---"), du.rect(298, 272, 32, 10));
    tempoDisplay_->setObjectName(QStringLiteral("tempoDisplay"));
    // Displays whose text changes have no fixed accessible name: their name is their text, read as it
    // changes, and the description says what it is.
    tempoDisplay_->setAccessibleDescription(QStringLiteral("Tempo in beats per minute"));
    tempoDisplay_->setAlignment(Qt::AlignCenter);
    // The output levels beside the master, so that the clip lamp has a warning before it lights.
    const auto addMeter = [this](const char* name, const char* accessible, QRect rect) {
        auto* meter = new QProgressBar(this);
        meter->setObjectName(QString::fromUtf8(name));
        meter->setAccessibleName(QString::fromUtf8(accessible));
        meter->setOrientation(Qt::Vertical);
        meter->setRange(0, 32766);
        meter->setValue(0);
        meter->setTextVisible(false);
        meter->setGeometry(rect);
        return meter;
    };
    leftMeter_ = addMeter("leftLevelMeter", "Left output level", du.rect(245, 46, 5, 140));
    rightMeter_ = addMeter("rightLevelMeter", "Right output level", du.rect(251, 46, 5, 140));
    auto* clipButton = addButton("clipButton", QStringLiteral("Clip"), du.rect(262, 47, 16, 11));
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    clipButton->setFont(small);
    clipButton->setStyleSheet(QStringLiteral("padding: 0px;"));
    clipLamp_ = addLabel(QString(), du.rect(258, 60, 24, 10));
    clipLamp_->setObjectName(QStringLiteral("clipLamp"));
    clipLamp_->setAccessibleName(QStringLiteral("Clip lamp"));
    clipLamp_->setAlignment(Qt::AlignCenter);
    clipLamp_->setPixmap(clipOffLamp_);
    clipLamp_->setAccessibleDescription(QStringLiteral("Not clipped"));
    runButton_ = addButton("runButton", QStringLiteral("Run"), du.rect(258, 74, 24, 112));
    runButton_->setCheckable(true);
    connect(clipButton, &QPushButton::clicked, this, [this] {
        engine_.params.clipped.store(false, kRelaxed);
        refreshLamp();
    });
    connect(runButton_, &QPushButton::toggled, this, [this](bool on) {
        engine_.params.running.store(on, kRelaxed);
        if (settings_.clockSource == common::ClockSource::JackTimebase)
            audio_.rollTransport(on, true); // leading: Run starts the song from the top, as on its own
        if (settings_.clockSource == common::ClockSource::Link)
            sync_.link.requestPlaying(on); // the session starts and stops with us
        runButton_->setText(on ? QStringLiteral("Stop") : QStringLiteral("Run"));
        runButton_->setAccessibleName(runButton_->text());
    });
}

// Under the boxes: the step lamps, recording, the load display and the dialog buttons.
void LoopMachineWindow::buildBottomRow(const DialogUnits& du) {
    recordBox_ = new QCheckBox(QStringLiteral("Dump output to wav"), this);
    recordBox_->setObjectName(QStringLiteral("recordCheckBox"));
    recordBox_->setAccessibleName(recordBox_->text());
    stepLamps_ = new StepLamps(this);
    stepLamps_->setGeometry(du.rect(6, 291, 324, 7));
    recordBox_->setGeometry(du.rect(6, 302, 92, 12));
    sizeDisplay_ = addLabel(QStringLiteral("---"), du.rect(100, 302, 60, 12));
    sizeDisplay_->setObjectName(QStringLiteral("recordingSizeDisplay"));
    sizeDisplay_->setAccessibleDescription(QStringLiteral("Recording size"));
    sizeDisplay_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    sizeDisplay_->setAlignment(Qt::AlignCenter);
    addLabel(QStringLiteral("Cpu usage "), du.rect(172, 304, 42, 10));
    cpuDisplay_ = addLabel(QStringLiteral("---"), du.rect(214, 304, 50, 10));
    cpuDisplay_->setObjectName(QStringLiteral("cpuUsageDisplay"));
    cpuDisplay_->setAccessibleDescription(QStringLiteral("Cpu usage"));
    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    rule->setGeometry(du.rect(4, 318, 328, 2));
    auto* settingsButton = addButton("settingsButton", QStringLiteral("Settings"), du.rect(4, 326, 60, 15));
    auto* aboutButton = addButton("aboutButton", QStringLiteral("About"), du.rect(68, 326, 60, 15));
    auto* exitButton = addButton("exitButton", QStringLiteral("Exit program"), du.rect(272, 326, 60, 15));
    // On the state, not the click: Space, setChecked() and a screen reader's Toggle act as a click does.
    connect(recordBox_, &QCheckBox::toggled, this, &LoopMachineWindow::recordToggled);
    connect(settingsButton, &QPushButton::clicked, this, &LoopMachineWindow::openSettings);
    connect(aboutButton, &QPushButton::clicked, this, &LoopMachineWindow::showAbout);
    connect(exitButton, &QPushButton::clicked, this, &LoopMachineWindow::requestQuit);
}

// Qt has no system menu: "About Vexla", scenes and the re-roll history sit in the window's context menu,
// with the usual shortcuts.
void LoopMachineWindow::buildMenu() {
    const auto addMenuAction = [this](const char* name, const QString& text, const QKeySequence& keys,
                                      void (LoopMachineWindow::*slot)()) {
        auto* action = new QAction(text, this);
        action->setObjectName(QString::fromUtf8(name));
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        connect(action, &QAction::triggered, this, slot);
    };
    addMenuAction("aboutAction", QStringLiteral("About Vexla"), QKeySequence::HelpContents,
                  &LoopMachineWindow::showAbout);
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    addAction(separator);
    addMenuAction("saveSceneAction", QStringLiteral("Save scene..."), QKeySequence(Qt::CTRL | Qt::Key_S),
                  &LoopMachineWindow::saveScene);
    addMenuAction("openSceneAction", QStringLiteral("Open scene..."), QKeySequence(Qt::CTRL | Qt::Key_O),
                  &LoopMachineWindow::openScene);
    addMenuAction("undoAction", QStringLiteral("Undo re-roll"), QKeySequence(Qt::CTRL | Qt::Key_Z),
                  &LoopMachineWindow::undoReRoll);
    addMenuAction("redoAction", QStringLiteral("Redo re-roll"),
                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), &LoopMachineWindow::redoReRoll);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

// Tab moves in reading order: rows of 20 dialog units from the top, left to right within a row.
void LoopMachineWindow::orderTabsByPlace() {
    const DialogUnits du(font());
    QList<QWidget*> stops;
    for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (w->focusPolicy() & Qt::TabFocus)
            stops.append(w);
    const auto key = [&du](const QWidget* w) { return std::tuple(w->y() / du.y(20), w->x(), w->y()); };
    std::stable_sort(stops.begin(), stops.end(), [&](QWidget* a, QWidget* b) { return key(a) < key(b); });
    for (qsizetype i = 1; i < stops.size(); ++i)
        setTabOrder(stops[i - 1], stops[i]);
}

void LoopMachineWindow::positionSliders() {
    // Without signals: the engine's start-up has already put the start positions' values in place.
    const std::span<const Control> table = controls();
    for (std::size_t i = 0; i < table.size(); ++i)
        if (QSlider* slider = sliders_[i]) {
            const QSignalBlocker blocker(slider);
            slider->setValue(table[i].startPosition);
        }
}

// ---- Control formulas -----------------------------------------------------------------------------

float LoopMachineWindow::partnerValue(const Control& control) const {
    const std::span<const Control> table = controls();
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i].name == control.partnerName && sliders_[i])
            return table[i].value(sliders_[i]->value(), 0.0f);
    return 0.0f;
}

void LoopMachineWindow::applyControl(std::size_t index) {
    const std::span<const Control> table = controls();
    const Control& control = table[index];
    control.access.store(engine_.params, control.value(sliders_[index]->value(), partnerValue(control)));
    // A mapping that reads this control's value (a filter's feedback reads its cutoff) follows it.
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i].partnerName == control.name && sliders_[i])
            table[i].access.store(engine_.params,
                                  table[i].value(sliders_[i]->value(), partnerValue(table[i])));
    if (control.name == "samplesPerStep")
        tempoChanged(sliders_[index]->value());
}

QSlider* LoopMachineWindow::sliderOf(std::string_view name) const {
    const std::span<const Control> table = controls();
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i].name == name)
            return sliders_[i];
    return nullptr;
}

void LoopMachineWindow::applyAllSliders() {
    for (QSlider* slider : findChildren<QSlider*>(QString(), Qt::FindDirectChildrenOnly))
        emit slider->valueChanged(slider->value());
}

void LoopMachineWindow::tempoChanged(int samplesPerStep) {
    // Every tempo change re-rolls the echo delay, as the window always has.
    engine_.alterEcho(windowRandom_);
    tempoDisplay_->setText(tempoText(samplesPerStep));
    // The user's tempo is the session's (the followed tempo shown by refreshFollowing comes unsignalled).
    if (settings_.clockSource == common::ClockSource::Link && samplesPerStep > 0)
        sync_.link.requestTempo(bpmOf(samplesPerStep));
}

// ---- Buttons --------------------------------------------------------------------------------------

void LoopMachineWindow::setStep() {
    const Control& range = *findControl("stepCount");
    const int typed = leadingNumber(stepsEdit_->text());
    const int steps = std::clamp(typed, range.lowestPosition, range.highestPosition);
    if (steps != typed)
        stepsEdit_->setText(QString::asprintf("%d", steps));
    history_.keep(ReRollHistory::partsOf("Set step!"));
    engine_.params.stepCount.store(steps, kRelaxed);
    engine_.regenerateAll(windowRandom_);
}

void LoopMachineWindow::sequence() {
    history_.press(windowRandom_, "Sequence");
    stepsEdit_->setText(QString::asprintf("%d", engine_.params.stepCount.load(kRelaxed)));
}

void LoopMachineWindow::pressReRoll(const char* caption) {
    history_.press(windowRandom_, caption);
}

void LoopMachineWindow::undoReRoll() {
    if (history_.undo())
        stepsEdit_->setText(QString::asprintf("%d", engine_.params.stepCount.load(kRelaxed)));
}

void LoopMachineWindow::redoReRoll() {
    if (history_.redo())
        stepsEdit_->setText(QString::asprintf("%d", engine_.params.stepCount.load(kRelaxed)));
}

// ---- Scenes ---------------------------------------------------------------------------------------

void LoopMachineWindow::saveScene() {
    const QString path = dialogs_.saveSceneFile(this);
    if (path.isEmpty())
        return;
    engine_.collectChanges(); // the patterns of the requests served so far belong to the scene
    Scene scene{captureLatest(engine_), {}};
    for (int i = 0; i < kSceneSlots; ++i)
        scene.samplePaths[static_cast<std::size_t>(i)] = QFile::encodeName(samplePaths_[i]).toStdString();
    std::string error;
    if (!saveSceneFile(QFile::encodeName(path).toStdString(), scene, error))
        dialogs_.showError(this, QStringLiteral("Vexla"),
                           QStringLiteral("Could not save the scene %1:\n%2")
                               .arg(QFileInfo(path).fileName(), QString::fromStdString(error)));
}

void LoopMachineWindow::openScene() {
    const QString path = dialogs_.openSceneFile(this);
    if (path.isEmpty())
        return;
    Scene scene;
    std::string error;
    if (!loadSceneFile(QFile::encodeName(path).toStdString(), scene, error)) {
        dialogs_.showError(this, QStringLiteral("Vexla"),
                           QStringLiteral("Could not open the scene %1:\n%2")
                               .arg(QFileInfo(path).fileName(), QString::fromStdString(error)));
        return;
    }
    // Sound first, at the next step boundary; the sliders follow without sending anything.
    restoreScene(engine_, scene.state, kSceneEverything);
    showControls(scene.state.controls);
    const auto problems = loadSceneSamples(engine_, scene);
    for (int i = 0; i < kSceneSlots; ++i) {
        const auto index = static_cast<std::size_t>(i);
        LoaderRow& loader = loaders_[i];
        const QString samplePath = QFile::decodeName(scene.samplePaths[index].c_str());
        const QString name = QFileInfo(samplePath).fileName();
        if (samplePath.isEmpty()) {
            samplePaths_[i].clear();
            loader.name->setText(QStringLiteral("empty"));
            loader.name->setToolTip(QString());
            loader.name->setForegroundRole(QPalette::PlaceholderText);
        } else if (!problems[index].empty()) {
            samplePaths_[i].clear(); // the slot is empty now
            loader.name->setText(QStringLiteral("missing: %1").arg(name));
            loader.name->setToolTip(samplePath + QStringLiteral("\n") +
                                    QString::fromStdString(problems[index]));
            loader.name->setForegroundRole(QPalette::WindowText);
        } else {
            samplePaths_[i] = samplePath;
            loader.name->setText(name);
            loader.name->setToolTip(samplePath);
            loader.name->setForegroundRole(QPalette::WindowText);
        }
    }
}

void LoopMachineWindow::showControls(const ControlValues& c) {
    const std::span<const Control> table = controls();
    // Blocked: a slider's own formula would round the scene's values, and the tempo's would re-roll the echo.
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (!sliders_[i])
            continue;
        const Control* partner = findControl(table[i].partnerName);
        const float partnerValue = partner ? static_cast<float>(partner->access.get(c)) : 0.0f;
        const QSignalBlocker blocker(sliders_[i]);
        sliders_[i]->setValue(table[i].position(static_cast<float>(table[i].access.get(c)), partnerValue));
    }
    stepsEdit_->setText(QString::asprintf("%d", c.stepCount));
    tempoDisplay_->setText(tempoText(c.samplesPerStep));
    // The user opened a scene: its tempo is the session's.
    if (settings_.clockSource == common::ClockSource::Link && c.samplesPerStep > 0)
        sync_.link.requestTempo(bpmOf(c.samplesPerStep));
}

void LoopMachineWindow::loadSample(int row) {
    LoaderRow& loader = loaders_[row];
    const QString path = dialogs_.openSampleFile(this);
    if (path.isEmpty())
        return;
    const QByteArray nativePath = QFile::encodeName(path);
    SampleSlot loaded;
    const LoadResult result = loadSampleFile(nativePath.constData(), loaded);
    if (!result) {
        // The previous sample stays loaded and playing.
        dialogs_.showError(this, QStringLiteral("Vexla"),
                           QStringLiteral("Could not load %1:\n%2")
                               .arg(QFileInfo(path).fileName(), QString::fromStdString(result.reason)));
        return;
    }
    engine_.swapSample(*loader.slot, std::move(loaded));
    samplePaths_[row] = path;
    loader.name->setText(QFileInfo(path).fileName());
    loader.name->setToolTip(path);
    loader.name->setForegroundRole(QPalette::WindowText);
}

void LoopMachineWindow::recordToggled(bool ticked) {
    EngineParams& p = engine_.params;
    if (!ticked) {
        if (p.recording.load(kRelaxed))
            finishRecording(true);
        return;
    }
    if (p.recording.load(kRelaxed))
        return;
    const QString path = dialogs_.saveRecordingFile(this);
    // Unticked while the dialog was open (by automation): that cancels too.
    if (path.isEmpty() || !recordBox_->isChecked()) {
        untickRecordBox();
        return;
    }
    // The file is created before the render is told to record, outside the lock, so that the render
    // never waits for the disk; no frame can reach a file that is not yet open.
    const QByteArray nativePath = QFile::encodeName(path);
    const int status = recorder_.open(nativePath.constData(), 44100, 16, 2);
    if (status != common::WavRecorder::kOk) {
        untickRecordBox();
        dialogs_.showError(
            this, QStringLiteral("Vexla"),
            QStringLiteral("Could not record to %1:\n%2")
                .arg(QFileInfo(path).fileName(), QString::fromStdString(recorder_.lastError())));
        return;
    }
    p.recordedBytes.store(0, kRelaxed);
    p.recording.store(true, kRelaxed);
    refreshStatus();
}

void LoopMachineWindow::finishRecording(bool tellFailure) {
    // A render still handing the recorder frames is waited for by finish().
    engine_.params.recording.store(false, kRelaxed);
    const int status = recorder_.finish();
    untickRecordBox();
    sizeDisplay_->setText(QStringLiteral("---"));
    if (tellFailure && status != common::WavRecorder::kOk)
        dialogs_.showError(this, QStringLiteral("Vexla"),
                           QStringLiteral("The recording is incomplete:\n%1")
                               .arg(QString::fromStdString(recorder_.lastError())));
}

void LoopMachineWindow::untickRecordBox() {
    const QSignalBlocker blocker(recordBox_); // the window's own change, not the user's
    recordBox_->setChecked(false);
}

void LoopMachineWindow::openSettings() {
    const std::vector<std::string> devices = audio_.deviceNames();
    SettingsDialog dialog(settings_, devices, this);
    const Control& dc = *findControl("dcFilter");
    const bool dcFilterWas = dc.access.load(engine_.params) != 0;
    dialog.setDcFilter(dcFilterWas);
    if (dialogs_.run(dialog) != QDialog::Accepted)
        return;
    dc.access.store(engine_.params, dialog.dcFilter() ? 1.0 : 0.0);
    const AudioSettings chosen = dialog.settings();
    const bool clockChanged = chosen.clockSource != settings_.clockSource;
    setClockSource(chosen.clockSource);
    // The filter and the clock switch without a restart, which would break the sound they concern.
    const bool streamChanged = chosen.deviceIndex != settings_.deviceIndex ||
                               chosen.latencyFrames != settings_.latencyFrames ||
                               chosen.autoConnect != settings_.autoConnect;
    settings_.deviceIndex = chosen.deviceIndex;
    settings_.latencyFrames = chosen.latencyFrames;
    settings_.autoConnect = chosen.autoConnect;
    storeSettings(devices);
    if (!streamChanged && (dialog.dcFilter() != dcFilterWas || clockChanged))
        return;
    startStream();
}

void LoopMachineWindow::startStream() {
    const audio::StreamSettings stream = streamSettings(settings_, &sync_.bus, &sync_.transport);
    // A followed session's beats are placed where the stream's frames are heard: a block and the mix
    // buffer after they are made.
    sync_.link.setOutputLatencyFrames(audio::framesUntilHeard(stream));
    audio_.start(sound_, stream);
}

void LoopMachineWindow::setClockSource(common::ClockSource source) {
    const bool leads = audio::PlaySync::leadsTransport(source);
    const bool wasLeading = audio::PlaySync::leadsTransport(settings_.clockSource);
    settings_.clockSource = source;
    const int samplesPerStep = std::max(1, engine_.params.samplesPerStep.load(kRelaxed));
    engine_.setMaster(sync_.follow(source, bpmOf(samplesPerStep)));
    if (leads != wasLeading)
        audio_.leadTransport(leads);
    if (leads && !wasLeading && runButton_ && runButton_->isChecked())
        audio_.rollTransport(true); // running already: the transport rolls with it
    // Leading the transport, or a Link session (which takes our tempo as any peer's), the tempo is this
    // program's to set; a MIDI clock or a followed transport leads alone.
    if (QSlider* tempo = sliderOf("samplesPerStep"))
        tempo->setEnabled(source == common::ClockSource::Internal || leads ||
                          source == common::ClockSource::Link);
}

namespace {
const QString kDeviceKey = QStringLiteral("sound/device");
const QString kLatencyKey = QStringLiteral("sound/latencyFrames");
const QString kAutoConnectKey = QStringLiteral("sound/jackAutoConnect");
const QString kClockKey = QStringLiteral("sync/clockSource");
} // namespace

void LoopMachineWindow::setSettingsStore(QSettings* store) {
    store_ = store;
    if (!store_)
        return;
    // Devices are looked for only when one was kept: the search may wait for a sound server.
    if (const std::string device = store_->value(kDeviceKey).toString().toStdString(); !device.empty()) {
        const std::vector<std::string> devices = audio_.deviceNames();
        for (std::size_t i = 0; i < devices.size(); ++i)
            if (devices[i] == device)
                settings_.deviceIndex = static_cast<int>(i);
    }
    const int latency = store_->value(kLatencyKey, settings_.latencyFrames).toInt();
    if (latency >= SettingsDialog::kMinLatencyFrames && latency <= SettingsDialog::kMaxLatencyFrames)
        settings_.latencyFrames = latency;
    settings_.autoConnect = store_->value(kAutoConnectKey, settings_.autoConnect).toBool();
    const std::string clock = store_->value(kClockKey).toString().toStdString();
    setClockSource(common::clockSourceNamed(clock).value_or(settings_.clockSource));
}

void LoopMachineWindow::storeSettings(const std::vector<std::string>& devices) {
    if (!store_)
        return;
    if (settings_.deviceIndex >= 0 && settings_.deviceIndex < static_cast<int>(devices.size()))
        store_->setValue(kDeviceKey,
                         QString::fromStdString(devices[static_cast<std::size_t>(settings_.deviceIndex)]));
    store_->setValue(kLatencyKey, settings_.latencyFrames);
    store_->setValue(kAutoConnectKey, settings_.autoConnect);
    const std::string_view clock = common::nameOf(settings_.clockSource).option;
    store_->setValue(kClockKey, QString::fromUtf8(clock.data(), static_cast<qsizetype>(clock.size())));
    store_->sync();
}

void LoopMachineWindow::refreshFollowing() {
    if (settings_.clockSource == common::ClockSource::Internal ||
        audio::PlaySync::leadsTransport(settings_.clockSource))
        return;
    const EngineParams& p = engine_.params;
    const double bpm = p.followedBpm.load(kRelaxed);
    const Control& tempo = *findControl("samplesPerStep");
    QSlider* slider = sliderOf("samplesPerStep");
    if (bpm > 0.0 && slider) {
        // The step length the tempo control would give this tempo; moved only when it is most of a frame
        // away, so that a steady master (or one between two whole frames) leaves it alone.
        const double exact = kTempoConstant / (4.0 * bpm);
        const int followed =
            std::clamp(static_cast<int>(std::lround(exact)), tempo.lowestPosition, tempo.highestPosition);
        if (followed != slider->value() && std::abs(exact - slider->value()) >= 0.75) {
            const QSignalBlocker blocker(slider);
            slider->setValue(followed);
            tempo.access.store(engine_.params, followed);
            tempoDisplay_->setText(tempoText(followed));
        }
    }
}

void LoopMachineWindow::showAbout() {
    AboutDialog about(this);
    dialogs_.run(about);
}

// ---- Timers ---------------------------------------------------------------------------------------

void LoopMachineWindow::refreshLamp() {
    const bool lit = engine_.params.clipped.load(kRelaxed);
    clipLamp_->setPixmap(lit ? clipOnLamp_ : clipOffLamp_);
    clipLamp_->setAccessibleDescription(lit ? QStringLiteral("Clipped") : QStringLiteral("Not clipped"));
}

void LoopMachineWindow::refreshPlaying() {
    const EngineParams& p = engine_.params;
    stepLamps_->setSteps(p.stepCount.load(kRelaxed), p.playingStep.load(kRelaxed));
    leftMeter_->setValue(p.peakLeft.load(kRelaxed));
    rightMeter_->setValue(p.peakRight.load(kRelaxed));
}

void LoopMachineWindow::refreshStatus() {
    engine_.collectChanges(); // frees what the render has applied, old samples among them
    refreshLamp();
    cpuDisplay_->setText(QString::asprintf("%.2f%%", static_cast<double>(audio_.cpuLoadPercent())));
    refreshFollowing();
    const EngineParams& p = engine_.params;
    if (p.recording.load(kRelaxed) && !recorder_.lastError().empty()) {
        // The recorder stopped by itself (disk full, largest WAV size): say so rather than count on.
        finishRecording(true);
        return;
    }
    if (p.recording.load(kRelaxed)) {
        // The counter is unsigned in effect: a WAV file may reach 4 GiB.
        const auto bytes = static_cast<std::uint32_t>(p.recordedBytes.load(kRelaxed));
        sizeDisplay_->setText(QString::asprintf("%.2f Mb.", static_cast<double>(bytes) / 1048576.0));
    } else {
        sizeDisplay_->setText(QStringLiteral("---"));
    }
}

// ---- Window events --------------------------------------------------------------------------------

void LoopMachineWindow::requestQuit() {
    if (quitting_)
        return;
    if (!dialogs_.askYesNo(this, QStringLiteral("Exit confirmation"),
                           QStringLiteral("Are u sure to quit Vexla?")))
        return;
    quitting_ = true;
    lampTimer_->stop();
    statusTimer_->stop();
    audio_.stop();
    if (engine_.params.recording.load(kRelaxed))
        finishRecording(true);
    QDialog::done(QDialog::Accepted);
}

void LoopMachineWindow::reject() {
    requestQuit();
}

void LoopMachineWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept(); // neither closes nor presses anything
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void LoopMachineWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!firstShowDone_) {
        firstShowDone_ = true;
        applyAllSliders();
    }
}

} // namespace vexla
