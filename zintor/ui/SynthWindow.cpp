// The synthesiser's main window: fixed layout in dialog units, one handler per control.
#include "zintor/ui/SynthWindow.h"

#include "common/WavRecorder.h"
#include "zintor/controls/Controls.h"
#include "zintor/engine/SynthEngine.h"
#include "zintor/generators/ReRollHistory.h"
#include "zintor/generators/StartUp.h"
#include "zintor/scene/SceneFile.h"
#include "zintor/ui/DialogUnits.h"
#include "zintor/ui/MessageBoxes.h"
#include "zintor/ui/StepLamps.h"
#include "zintor/ui/SynthAboutDialog.h"
#include "zintor/ui/SynthIcon.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
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

#include <climits>
#include <cmath>
#include <ctime>

namespace zintor {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kMeterMaximum = 32769; // a little above the largest peak, 32767, so full scale fills it
constexpr int kCpuRefreshMs = 500;
constexpr int kMeterRefreshMs = 50;
constexpr int kMaxFieldChars = 31;
constexpr double kBytesPerMb = 1048576.0;

QStringList sceneFilters() {
    return {"Zintor scenes (*.json)", "All Files (*)"};
}

// The C library's atoi on a digits-only field, saturating instead of overflowing: an empty field
// gives 0, and a long run of digits stays far above every limit rather than wrapping.
int fieldValue(const QString& text) {
    long long value = 0;
    for (QChar c : text.left(kMaxFieldChars)) {
        if (!c.isDigit())
            break;
        value = std::min<long long>(value * 10 + c.digitValue(), INT_MAX);
    }
    return static_cast<int>(value);
}

// 1000-frame blocks, 50 ms of device buffering, on the device the program was given.
constexpr int kStreamBlockFrames = 1000;
constexpr int kStreamLatencyMs = 50;

} // namespace

SynthWindow::SynthWindow(SynthEngine& engine, audio::Output& audio, MessageBoxes& boxes, int deviceIndex,
                         QWidget* parent)
    : QDialog(parent), engine_(engine), audio_(audio), sound_(engine), boxes_(boxes),
      history_(std::make_unique<ReRollHistory>(engine)),
      recorder_(std::make_unique<common::WavRecorder>()), stream_{deviceIndex,      kStreamBlockFrames,
                                                                  kStreamLatencyMs, true,
                                                                  &sync_.bus,       &sync_.transport} {
    setObjectName("synthWindow");
    setWindowTitle("Vexla Release 9");
    // A caption with a close box and no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(synthIcon());
    engine_.setMidi(&sync_.bus); // before the stream starts
    // The tempo JACK transport hears while this program leads it.
    sync_.transport.setOwnTempo(
        [](const void* engine) {
            return static_cast<double>(
                static_cast<const SynthEngine*>(engine)->params.samplesPerStep.load(kRelaxed));
        },
        &engine_);

    const DialogUnits units(font());
    setFixedSize(units.x(494), units.y(322));
    buildControls(units);

    // Qt has no window system menu: the About entry lives in the window's context menu and on F1.
    aboutAction_ = new QAction("&About zintor...", this);
    aboutAction_->setObjectName("aboutAction");
    aboutAction_->setShortcut(QKeySequence(Qt::Key_F1));
    aboutAction_->setShortcutContext(Qt::WindowShortcut);
    connect(aboutAction_, &QAction::triggered, this, &SynthWindow::showAbout);
    addAction(aboutAction_);
    // Scenes and the re-roll history sit in the same menu, with the usual shortcuts.
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    addAction(separator);
    const auto addMenuAction = [this](const char* name, const QString& text, const QKeySequence& keys,
                                      void (SynthWindow::*slot)()) {
        auto* action = new QAction(text, this);
        action->setObjectName(name);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        connect(action, &QAction::triggered, this, slot);
    };
    addMenuAction("saveSceneAction", "Save scene...", QKeySequence(Qt::CTRL | Qt::Key_S),
                  &SynthWindow::saveScene);
    addMenuAction("openSceneAction", "Open scene...", QKeySequence(Qt::CTRL | Qt::Key_O),
                  &SynthWindow::openScene);
    addMenuAction("undoAction", "Undo re-roll", QKeySequence(Qt::CTRL | Qt::Key_Z), &SynthWindow::undoReRoll);
    addMenuAction("redoAction", "Redo re-roll", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z),
                  &SynthWindow::redoReRoll);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    startSynth();
}

SynthWindow::~SynthWindow() {
    if (recording_)
        finishRecording(false);
}

QGroupBox* SynthWindow::addGroup(const DialogUnits& units, const QString& caption, const char* name, double x,
                                 double y, double w, double h) {
    auto* group = new QGroupBox(caption, this);
    group->setObjectName(name);
    group->setGeometry(units.rect(x, y, w, h));
    return group;
}

// Positions a widget from window dialog units, whatever group it sits in.
void SynthWindow::place(const DialogUnits& units, QWidget* widget, double x, double y, double w, double h) {
    QRect r = units.rect(x, y, w, h);
    if (QWidget* parent = widget->parentWidget(); parent && parent != this)
        r.translate(-parent->mapTo(this, QPoint(0, 0)));
    widget->setGeometry(r);
}

QSlider* SynthWindow::addSliderRow(const DialogUnits& units, QGroupBox* group, const char* name,
                                   const QString& caption, const QString& accessibleName, double x, double y,
                                   double w) {
    auto* label = new QLabel(caption, group);
    label->setObjectName(QString(name) + "Label");
    place(units, label, x, y, w, 8);
    auto* slider = new QSlider(Qt::Horizontal, group);
    slider->setObjectName(QString(name) + "Slider");
    slider->setAccessibleName(accessibleName);
    label->setBuddy(slider);
    place(units, slider, x, y + 8, w, 14);
    return slider;
}

QPushButton* SynthWindow::addButton(const DialogUnits& units, QWidget* parent, const char* name,
                                    const QString& caption, double x, double y, double w, double h) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAccessibleName(QString(caption).remove('&'));
    place(units, button, x, y, w, h);
    return button;
}

void SynthWindow::bindSlider(QSlider* slider, const Control& control) {
    slider->setRange(control.lowestPosition, control.highestPosition);
    slider->setValue(control.startPosition);
    sliders_.push_back({slider, &control});
    connect(slider, &QSlider::valueChanged, this, [this, slider] { applySlider(slider); });
}

void SynthWindow::applySlider(QSlider* slider) {
    for (const SliderBinding& binding : sliders_)
        if (binding.slider == slider)
            binding.control->access.store(engine_, binding.control->value(slider->value()));
}

/// Every slider of one group of the table, each under its label.
void SynthWindow::addControlRows(const DialogUnits& units, QGroupBox* group, ControlGroup which) {
    for (const Control& control : controls()) {
        if (control.group != which)
            continue;
        QSlider* slider =
            addSliderRow(units, group, control.objectName.c_str(), control.caption,
                         QString::fromStdString(control.accessibleName), control.x, control.y, control.width);
        if (control.highestPosition - control.lowestPosition <= 2) {
            slider->setTickPosition(QSlider::TicksBelow);
            slider->setTickInterval(1);
        }
        bindSlider(slider, control);
    }
}

void SynthWindow::buildSynthLineGroup(const DialogUnits& units, int line, double top) {
    const QString title = QString("Synthline-%1").arg(line);
    const QString prefix = QString("synthLine%1").arg(line);
    const QByteArray groupName = (prefix + "Group").toLatin1();
    QGroupBox* group = addGroup(units, title, groupName.constData(), 4, top, 260, 120);

    auto* phraseLabel = new QLabel("Phrase generator", group);
    phraseLabel->setObjectName(prefix + "PhraseLabel");
    place(units, phraseLabel, 10, top + 12, 62, 8);
    const double buttonTop = top + 24 + (line == 2 ? 1 : 0);
    struct Generator {
        const char* role;
        QString caption;
    };
    const Generator generators[] = {
        {"Goa", "Goa"}, {"FlatRiff", line == 1 ? "FLAT Riff" : "Flat riff"}, {"Psychedelic", "Psychedelic"}};
    for (int i = 0; i < 3; ++i) {
        const QByteArray name = (prefix + generators[i].role + "Button").toLatin1();
        QPushButton* button =
            addButton(units, group, name.constData(), generators[i].caption, 10, buttonTop + 26 * i, 60, 20);
        button->setAccessibleName(title + " " + generators[i].caption);
        const GeneratorButton* reRoll =
            findGeneratorButton((title + "/" + generators[i].caption).toStdString());
        connect(button, &QPushButton::clicked, this,
                [this, reRoll] { history_->press(*reRoll, windowRandom_); });
    }

    addControlRows(units, group, line == 1 ? ControlGroup::SynthLine1 : ControlGroup::SynthLine2);
}

void SynthWindow::buildControls(const DialogUnits& units) {
    buildSynthLineGroup(units, 1, 4);
    buildSynthLineGroup(units, 2, 128);
    buildDrumGroups(units);
    QSlider* master = buildMasterGroup(units);
    QSlider* shuffle = buildControlGroup(units);
    QSlider* transpose = buildTransposeGroup(units);
    buildBottomRow(units);

    // Ranges and positions in the order the synth has always set them up.
    bindSlider(shuffle, *findControl("shuffleAmount"));
    connect(stepsEdit_, &QLineEdit::textChanged, this, &SynthWindow::applyStepsText);
    stepsEdit_->setText(QString::number(kInitialStepCount));
    bpmEdit_->setText(QString::number(kInitialBpmText));
    bindSlider(transpose, *findControl("globalTranspose"));
    bindSlider(master, *findControl("masterGain"));
}

// The kick's sliders, the noise drums' (shown, disabled: they play at fixed levels) and the sub bass.
void SynthWindow::buildDrumGroups(const DialogUnits& units) {
    QGroupBox* kick = addGroup(units, "Kick", "kickGroup", 268, 4, 108, 92);
    addControlRows(units, kick, ControlGroup::Kick);

    QGroupBox* noise = addGroup(units, "Hi-Hats / Snare", "noiseDrumGroup", 268, 100, 108, 92);
    addSliderRow(units, noise, "snareVolume", "Snare volume", "Snare volume", 274, 112, 96);
    addSliderRow(units, noise, "hatVolume", "Hat volume", "Hat volume", 274, 138, 96);
    addSliderRow(units, noise, "hitVolume", "Hit volume", "Hit volume", 274, 164, 96);
    noise->setEnabled(false);

    QGroupBox* sub = addGroup(units, "Sub bass synth", "subBassGroup", 268, 196, 108, 52);
    QPushButton* generate = addButton(units, sub, "subBassGenerateButton", "Generate", 274, 208, 60, 12);
    generate->setAccessibleName("Sub bass generate");
    connect(generate, &QPushButton::clicked, this,
            [this] { history_->press(*findGeneratorButton("Sub bass synth/Generate"), windowRandom_); });
    addControlRows(units, sub, ControlGroup::SubBass);
}

// The master slider between the two output meters; bound later, in the synth's order.
QSlider* SynthWindow::buildMasterGroup(const DialogUnits& units) {
    const Control& control = *findControl("masterGain");
    QGroupBox* master = addGroup(units, "Master Vol.", "masterGroup", 380, 4, 52, 120);
    auto makeMeter = [&](const char* name, const char* accessibleName, double x) {
        auto* meter = new QProgressBar(master);
        meter->setObjectName(name);
        meter->setAccessibleName(accessibleName);
        meter->setOrientation(Qt::Vertical);
        meter->setTextVisible(false);
        meter->setRange(0, kMeterMaximum);
        meter->setValue(0);
        place(units, meter, x, 18, 8, 100);
        return meter;
    };
    leftMeter_ = makeMeter("leftMeter", "Left level", 386);
    auto* masterSlider = new QSlider(Qt::Vertical, master);
    masterSlider->setObjectName(QString::fromStdString(control.objectName) + "Slider");
    masterSlider->setAccessibleName(QString::fromStdString(control.accessibleName));
    // Position 0 at the top, where the slider is loudest; the keys move the handle the way they point.
    masterSlider->setInvertedAppearance(true);
    masterSlider->setInvertedControls(true);
    place(units, masterSlider, control.x, control.y, control.width, 104);
    rightMeter_ = makeMeter("rightMeter", "Right level", 418);
    return masterSlider;
}

// Steps, BPM and "Set", the groove shuffle, Play, the status and recording; the shuffle is bound later.
QSlider* SynthWindow::buildControlGroup(const DialogUnits& units) {
    QGroupBox* control = addGroup(units, "Control", "controlGroup", 380, 128, 112, 120);
    auto* digitsOnly = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this);
    auto makeField = [&](const char* name, const char* caption, double y) {
        auto* label = new QLabel(caption, control);
        label->setObjectName(QString(name) + "Label");
        place(units, label, 388, y + 2, 30, 8);
        auto* field = new QLineEdit(control);
        field->setObjectName(QString(name) + "Edit");
        field->setAccessibleName(caption);
        field->setAlignment(Qt::AlignCenter);
        field->setValidator(digitsOnly);
        field->setMaxLength(kMaxFieldChars);
        field->installEventFilter(this);
        label->setBuddy(field);
        place(units, field, 420, y, 30, 12);
        return field;
    };
    stepsEdit_ = makeField("steps", "Steps", 142);
    bpmEdit_ = makeField("bpm", "BPM", 158);
    setButton_ = addButton(units, control, "setButton", "Set", 454, 158, 32, 12);
    connect(setButton_, &QPushButton::clicked, this, &SynthWindow::applyTempoText);
    const Control& groove = *findControl("shuffleAmount");
    QSlider* shuffle =
        addSliderRow(units, control, groove.objectName.c_str(), groove.caption,
                     QString::fromStdString(groove.accessibleName), groove.x, groove.y, groove.width);
    playButton_ = addButton(units, control, "playButton", "Play", 388, 200, 56, 18);
    playButton_->setCheckable(true);
    // On the state, not the click: Space, setChecked() and a screen reader's Toggle act as a click does.
    connect(playButton_, &QPushButton::toggled, this, &SynthWindow::togglePlay);
    const Control& dc = *findControl("dcFilter");
    dcFilterBox_ = new QCheckBox(dc.caption, control);
    dcFilterBox_->setObjectName(QString::fromStdString(dc.objectName) + "CheckBox");
    dcFilterBox_->setAccessibleName(QString::fromStdString(dc.accessibleName));
    place(units, dcFilterBox_, dc.x, dc.y, dc.width, 10);
    connect(dcFilterBox_, &QCheckBox::toggled, this,
            [this, &dc](bool on) { dc.access.store(engine_, on ? 1.0 : 0.0); });
    // Labels whose text changes have no fixed accessible name: their name is their text, read as it
    // changes, and the description says what it is.
    statusLabel_ = new QLabel(control);
    statusLabel_->setObjectName("statusLabel");
    statusLabel_->setAccessibleDescription("Status");
    statusLabel_->setAlignment(Qt::AlignCenter);
    place(units, statusLabel_, 388, 224, 98, 12);
    recordBox_ = new QCheckBox("Record to wav", control);
    recordBox_->setObjectName("recordCheckBox");
    recordBox_->setAccessibleName("Record to wav");
    place(units, recordBox_, 388, 236, 60, 10);
    connect(recordBox_, &QCheckBox::toggled, this, &SynthWindow::recordToggled); // on the state, as Play
    recordSize_ = new QLabel("---", control);
    recordSize_->setObjectName("recordSizeLabel");
    recordSize_->setAccessibleDescription("Recording size");
    recordSize_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    place(units, recordSize_, 448, 236, 40, 10);
    return shuffle;
}

QSlider* SynthWindow::buildTransposeGroup(const DialogUnits& units) {
    const Control& control = *findControl("globalTranspose");
    QGroupBox* transpose = addGroup(units, "Global tranpose", "transposeGroup", 4, 252, 488, 44);
    auto* transposeSlider = new QSlider(Qt::Horizontal, transpose);
    transposeSlider->setObjectName(QString::fromStdString(control.objectName) + "Slider");
    transposeSlider->setAccessibleName(QString::fromStdString(control.accessibleName));
    transposeSlider->setTickPosition(QSlider::TicksBothSides);
    transposeSlider->setTickInterval(1);
    place(units, transposeSlider, control.x, control.y, control.width, 26);
    return transposeSlider;
}

// The step lamps and their page, the dialog buttons and the processor load.
void SynthWindow::buildBottomRow(const DialogUnits& units) {
    stepLamps_ = new StepLamps(this);
    place(units, stepLamps_, 4, 297, 394, 6);
    pageLabel_ = new QLabel(stepLamps_->pageText(), this);
    pageLabel_->setObjectName("stepPageLabel");
    pageLabel_->setAccessibleDescription("Step page");
    place(units, pageLabel_, 402, 296, 90, 8); // room for "Steps 129-192 of 256"
    connect(stepLamps_, &StepLamps::pageChanged, pageLabel_, &QLabel::setText);

    QPushButton* ok = addButton(units, this, "okButton", "OK", 4, 304, 50, 14);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    QPushButton* exit = addButton(units, this, "exitButton", "Exit", 58, 304, 50, 14);
    connect(exit, &QPushButton::clicked, this, &QDialog::reject);
    addButton(units, this, "helpButton", "&Help", 112, 304, 50, 14); // does nothing
    cpuLabel_ = new QLabel("cpu: 0.0%", this);
    cpuLabel_->setObjectName("cpuLabel");
    cpuLabel_->setAccessibleDescription("Processor load");
    cpuLabel_->setAlignment(Qt::AlignCenter);
    place(units, cpuLabel_, 380, 305, 112, 10);
    auto* clockLabel = new QLabel("Clock", this);
    clockLabel->setObjectName("clockLabel");
    place(units, clockLabel, 200, 307, 24, 8);
    clockList_ = new QComboBox(this);
    clockList_->setObjectName("clockList");
    clockList_->setAccessibleName("Clock");
    for (const common::ClockSourceName& name : common::kClockSources)
        clockList_->addItem(
            QString::fromUtf8(name.caption.data(), static_cast<qsizetype>(name.caption.size())));
    place(units, clockList_, 226, 304, 80, 14);
    clockLabel->setBuddy(clockList_);
    // The table lists the sources in the enum's order.
    connect(clockList_, &QComboBox::currentIndexChanged, this, [this](int row) {
        if (row >= 0)
            setClockSource(static_cast<common::ClockSource>(row));
    });
}

void SynthWindow::startSynth() {
    // The sliders' positions are already set; startUp puts the same start values into the engine,
    // sets the drum presets, clears the delay and writes the first phrases before any sound plays.
    startUp(engine_, windowRandom_, static_cast<std::uint32_t>(std::time(nullptr)));
    // A followed session's beats are placed where the stream's frames are heard: a block and the device's
    // buffering after they are made.
    sync_.link.setOutputLatencyFrames(audio::framesUntilHeard(stream_));
    audio_.start(sound_, stream_);

    cpuTimer_ = new QTimer(this);
    cpuTimer_->setObjectName("cpuTimer");
    connect(cpuTimer_, &QTimer::timeout, this, &SynthWindow::refreshCpuLabel);
    cpuTimer_->start(kCpuRefreshMs);
    meterTimer_ = new QTimer(this);
    meterTimer_->setObjectName("meterTimer");
    connect(meterTimer_, &QTimer::timeout, this, &SynthWindow::refreshMeters);
    meterTimer_->start(kMeterRefreshMs);
}

void SynthWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        for (const SliderBinding& binding : sliders_)
            binding.control->access.store(engine_, binding.control->value(binding.slider->value()));
    }
}

bool SynthWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && (watched == bpmEdit_ || watched == stepsEdit_)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // Enter must not reach the default button: closing would lose the phrases being played.
            if (watched == bpmEdit_)
                applyTempoText();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SynthWindow::applyStepsText() {
    const int steps = fieldValue(stepsEdit_->text());
    if (steps > kMaxStepCount) {
        boxes_.error(this, "Error", "Too many steps");
        // Setting the text runs this again, which stores the 256.
        stepsEdit_->setText(QString::asprintf("%d", kMaxStepCount));
        return;
    }
    engine_.params.stepCount.store(steps, kRelaxed);
}

void SynthWindow::applyTempoText() {
    const QString text = bpmEdit_->text().left(kMaxFieldChars);
    if (text.isEmpty())
        return;
    const int bpm = fieldValue(text);
    if (bpm >= kMinBpm && bpm <= kMaxBpm) {
        engine_.params.samplesPerStep.store(samplesPerStepFromBpm(bpm), kRelaxed);
        if (clockSource_ == common::ClockSource::Link)
            sync_.link.requestTempo(bpm); // the user's tempo is the session's
    }
    const int inForce = std::max(1, engine_.params.samplesPerStep.load(kRelaxed));
    statusLabel_->setText(QString::asprintf("Set to %d", bpmFromSamplesPerStep(inForce)));
}

void SynthWindow::togglePlay() {
    const bool on = playButton_->isChecked();
    engine_.params.playing.store(on, kRelaxed);
    if (clockSource_ == common::ClockSource::JackTimebase)
        audio_.rollTransport(on); // leading: Play goes on from where the song stopped, as on its own
    if (clockSource_ == common::ClockSource::Link)
        sync_.link.requestPlaying(on); // the session starts and stops with us
    statusLabel_->setText(on ? "Playing..." : "Stopped...");
}

void SynthWindow::refreshCpuLabel() {
    cpuLabel_->setText(QString::asprintf("cpu: %.1f%%", audio_.cpuLoadPercent()));
    refreshRecording();
    refreshFollowing();
}

void SynthWindow::setClockSource(common::ClockSource source) {
    // Back on its own clock, the engine plays as the Play button shows.
    if (source == common::ClockSource::Internal && clockSource_ != source)
        engine_.params.playing.store(playButton_->isChecked(), kRelaxed);
    const bool leads = audio::PlaySync::leadsTransport(source);
    const bool wasLeading = audio::PlaySync::leadsTransport(clockSource_);
    clockSource_ = source;
    const int samplesPerStep = std::max(1, engine_.params.samplesPerStep.load(kRelaxed));
    engine_.setMaster(sync_.follow(source, static_cast<double>(kStepFramesPerMinute) / samplesPerStep));
    stream_.leadTransport = leads;
    if (leads != wasLeading)
        audio_.leadTransport(leads);
    if (leads && !wasLeading && playButton_->isChecked())
        audio_.rollTransport(true); // playing already: the transport rolls with it
    // Leading the transport, or a Link session (which takes our tempo as any peer's), the tempo is this
    // program's to set; a MIDI clock or a followed transport leads alone.
    const bool own = source == common::ClockSource::Internal || leads || source == common::ClockSource::Link;
    bpmEdit_->setEnabled(own);
    setButton_->setEnabled(own);
    {
        const QSignalBlocker blocker(clockList_);
        clockList_->setCurrentIndex(static_cast<int>(source));
    }
    if (store_) {
        const std::string_view option = common::nameOf(source).option;
        store_->setValue("sync/clockSource",
                         QString::fromUtf8(option.data(), static_cast<qsizetype>(option.size())));
        store_->sync();
    }
}

void SynthWindow::refreshFollowing() {
    if (clockSource_ == common::ClockSource::Internal)
        return;
    const double bpm =
        audio::PlaySync::leadsTransport(clockSource_) ? 0.0 : engine_.params.followedBpm.load(kRelaxed);
    // Shown and stored in whole BPM, as the field holds it; moved only when the master is most of a BPM
    // away, so that a steady master (or one between two whole BPM) leaves it alone.
    const int shown = static_cast<int>(std::lround(bpm));
    if (bpm > 0.0 && shown >= kMinBpm && shown <= kMaxBpm && bpmEdit_->text() != QString::number(shown) &&
        std::abs(bpm - bpmEdit_->text().toDouble()) >= 0.75) {
        bpmEdit_->setText(QString::number(shown));
        engine_.params.samplesPerStep.store(samplesPerStepFromBpm(shown), kRelaxed);
    }
    const bool masterPlays = engine_.params.masterPlaying.load(kRelaxed);
    if (playButton_->isChecked() != masterPlays) {
        const QSignalBlocker blocker(playButton_); // the master's change, not the user's
        playButton_->setChecked(masterPlays);
        statusLabel_->setText(masterPlays ? "Playing..." : "Stopped...");
    }
}

void SynthWindow::refreshMeters() {
    leftMeter_->setValue(engine_.params.peakLeft.load(kRelaxed));
    rightMeter_->setValue(engine_.params.peakRight.load(kRelaxed));
    stepLamps_->setSteps(engine_.params.stepCount.load(kRelaxed), engine_.params.playingStep.load(kRelaxed));
}

void SynthWindow::showAbout() {
    SynthAboutDialog about(this);
    about.exec();
}

// ---- Scenes and undo ------------------------------------------------------------------------------

void SynthWindow::saveScene() {
    const QString path = boxes_.saveFileName(this, "Save scene", sceneFilters(), "json");
    if (path.isEmpty())
        return;
    std::string error;
    if (!saveSceneFile(QFile::encodeName(path).toStdString(), captureLatest(engine_), error))
        boxes_.error(this, "Error",
                     QString("Could not save the scene %1:\n%2")
                         .arg(QFileInfo(path).fileName(), QString::fromStdString(error)));
}

void SynthWindow::openScene() {
    const QString path = boxes_.openFileName(this, "Open scene", sceneFilters(), "json");
    if (path.isEmpty())
        return;
    SynthState scene;
    std::string error;
    if (!loadSceneFile(QFile::encodeName(path).toStdString(), scene, error)) {
        boxes_.error(this, "Error",
                     QString("Could not open the scene %1:\n%2")
                         .arg(QFileInfo(path).fileName(), QString::fromStdString(error)));
        return;
    }
    // Sound first, whole at the next step boundary; the controls follow without applying anything.
    engine_.postState(scene, kStateEverything);
    showControls(scene);
}

void SynthWindow::undoReRoll() {
    history_->undo();
}

void SynthWindow::redoReRoll() {
    history_->redo();
}

void SynthWindow::showControls(const SynthState& state) {
    // Blocked: a slider's own formula would round the scene's values.
    for (const SliderBinding& binding : sliders_) {
        const QSignalBlocker blocker(binding.slider);
        binding.slider->setValue(binding.control->position(binding.control->access.get(state)));
    }
    {
        const QSignalBlocker blocker(dcFilterBox_);
        dcFilterBox_->setChecked(state.controls.dcFilter != 0);
    }
    {
        const QSignalBlocker blocker(stepsEdit_);
        stepsEdit_->setText(QString::asprintf("%d", state.controls.stepCount));
    }
    bpmEdit_->setText(QString::asprintf("%d", bpmFromSamplesPerStep(state.controls.samplesPerStep)));
    // The user opened a scene: its tempo is the session's.
    if (clockSource_ == common::ClockSource::Link && state.controls.samplesPerStep > 0)
        sync_.link.requestTempo(static_cast<double>(kStepFramesPerMinute) / state.controls.samplesPerStep);
}

// ---- Recording ------------------------------------------------------------------------------------

void SynthWindow::recordToggled(bool ticked) {
    if (!ticked) {
        finishRecording(true);
        return;
    }
    if (recording_)
        return;
    const QString path =
        boxes_.saveFileName(this, "Record to wav", {"Wav Files (*.wav)", "All Files (*)"}, "wav");
    // Unticked while the dialog was open (by automation): that cancels too.
    if (path.isEmpty() || !recordBox_->isChecked()) {
        untickRecordBox();
        return;
    }
    // The file is open before the render gets the recorder, so no frame can reach a file not yet open.
    if (recorder_->open(QFile::encodeName(path).constData(), kSampleRate, 16, 2) !=
        common::WavRecorder::kOk) {
        untickRecordBox();
        boxes_.error(this, "Error",
                     QString("Could not record to %1:\n%2")
                         .arg(QFileInfo(path).fileName(), QString::fromStdString(recorder_->lastError())));
        return;
    }
    recording_ = true;
    engine_.setRecorder(recorder_.get());
    recordSize_->setText(QString::asprintf("%.2f Mb.", 0.0));
}

void SynthWindow::finishRecording(bool tellFailure) {
    if (!recording_)
        return;
    recording_ = false;
    // A block in progress may still hand frames over: the recorder refuses them once it finishes.
    engine_.setRecorder(nullptr);
    const int status = recorder_->finish();
    untickRecordBox();
    recordSize_->setText("---");
    if (tellFailure && status != common::WavRecorder::kOk)
        boxes_.error(
            this, "Error",
            QString("The recording is incomplete:\n%1").arg(QString::fromStdString(recorder_->lastError())));
}

void SynthWindow::untickRecordBox() {
    const QSignalBlocker blocker(recordBox_); // the window's own change, not the user's
    recordBox_->setChecked(false);
}

void SynthWindow::refreshRecording() {
    if (!recording_)
        return;
    if (!recorder_->lastError().empty()) {
        // The recorder stopped by itself (disk full, largest WAV size): say so rather than count on.
        finishRecording(true);
        return;
    }
    const double bytes = 4.0 * static_cast<double>(recorder_->framesWritten());
    recordSize_->setText(QString::asprintf("%.2f Mb.", bytes / kBytesPerMb));
}

void SynthWindow::done(int result) {
    finishRecording(true);
    QDialog::done(result);
}

} // namespace zintor
