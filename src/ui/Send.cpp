#include "ui/Send.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>

#include "common/Failure.h"
#include "midi/Port.h"
#include "sysex/DeviceId.h"
#include "ui/Notice.h"
#include "ui/Scaling.h"

namespace ui {

namespace {

// Often enough that the bar looks live; the timer only reads the engine's progress.
constexpr int TickMs = 100;
constexpr int BarSteps = 1000;

QString Clock(std::chrono::milliseconds time) {
    const long long seconds = (time.count() + 999) / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString SecondsText(std::chrono::milliseconds time) {
    return QString::number(static_cast<double>(time.count()) / 1000.0, 'f', 1) + QStringLiteral(" 秒");
}

}  // namespace

TSend::TSend(QWidget* owner, double scale, SendSetup setup) : QDialog(owner), setup_(std::move(setup)) {
    setWindowTitle(QStringLiteral("送信"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    if (!setup_.confirmStop) {
        setup_.confirmStop = [this] {
            return QMessageBox::question(this, QString::fromUtf8(ApplicationTitle),
                                         QStringLiteral("送信中です。中止して閉じますか?")) == QMessageBox::Yes;
        };
    }
    CreateControls(scale);
    WireHandlers();
}

TSend::~TSend() {
    // Only when the dialog goes without being closed (the program ends): the engine stops within
    // about half a second, and its thread must end before the port can go.
    if (transmission_) transmission_->Cancel();
    if (engine_.valid()) engine_.wait();
}

void TSend::CreateControls(double scale) {
    QGridLayout* grid = DialogGrid(this, scale);

    grid->addWidget(new QLabel(QStringLiteral("出力ポート"), this), 0, 0);
    lblPort = new QLabel(this);
    lblPort->setWordWrap(true);
    lblPort->setMinimumWidth(Scaled(240, scale));
    if (setup_.port) {
        lblPort->setText(QString::fromStdString(setup_.portName));
    } else {
        // Named as the main window's port list names it.
        lblPort->setText(QString::fromUtf8(midi::NoPortEntry.data(), static_cast<int>(midi::NoPortEntry.size())) +
                         QStringLiteral(" 開いている出力ポートがないため送信できません。"
                                        "メインウィンドウで出力ポートを選んでください。"));
    }
    grid->addWidget(lblPort, 0, 1);

    grid->addWidget(new QLabel(QStringLiteral("範囲"), this), 1, 0);
    auto* range = new QHBoxLayout;
    rbAll = new QRadioButton(QStringLiteral("すべて"), this);
    rbRange = new QRadioButton(QStringLiteral("指定"), this);
    auto* group = new QButtonGroup(this);
    group->addButton(rbAll);
    group->addButton(rbRange);
    const int count = std::max(MessageCount(), 1);
    edtFrom = new QSpinBox(this);
    edtTo = new QSpinBox(this);
    for (QSpinBox* box : {edtFrom, edtTo}) box->setRange(1, count);
    const bool selected = setup_.selectedMessage >= 0 && setup_.selectedMessage < MessageCount();
    edtFrom->setValue(selected ? setup_.selectedMessage + 1 : 1);
    edtTo->setValue(count);
    (selected ? rbRange : rbAll)->setChecked(true);
    range->addWidget(rbAll);
    range->addWidget(rbRange);
    range->addWidget(edtFrom);
    range->addWidget(new QLabel(QStringLiteral("〜"), this));
    range->addWidget(edtTo);
    range->addWidget(new QLabel(QStringLiteral("/ ") + QString::number(MessageCount()), this));
    range->addStretch();
    grid->addLayout(range, 1, 1);

    grid->addWidget(new QLabel(QStringLiteral("送信後の間隔"), this), 2, 0);
    edtPause = new QSpinBox(this);
    edtPause->setRange(0, static_cast<int>(midi::MaxPauseMs));
    edtPause->setSingleStep(10);
    edtPause->setSuffix(QStringLiteral(" ms"));
    edtPause->setValue(static_cast<int>(std::min(setup_.pace.pauseMs, midi::MaxPauseMs)));
    grid->addWidget(edtPause, 2, 1, Qt::AlignLeft);

    grid->addWidget(new QLabel(QStringLiteral("速度"), this), 3, 0);
    cmbSpeed = new QComboBox(this);
    cmbSpeed->setEditable(false);
    // A remembered speed not offered here takes the nearest slower share (the slowest at least).
    const int remembered = setup_.pace.speedPercent;
    int chosen = -1;
    for (const int speed : midi::OfferedSpeeds) {
        const int index = cmbSpeed->count();
        cmbSpeed->addItem(QString::fromStdString(midi::SpeedText(speed)), speed);
        const bool slower = speed != midi::FastestSpeed && remembered != midi::FastestSpeed && speed <= remembered;
        if (speed == remembered || (slower && chosen < 0)) chosen = index;
    }
    if (chosen < 0) chosen = cmbSpeed->count() - 1;
    cmbSpeed->setCurrentIndex(chosen);
    grid->addWidget(cmbSpeed, 3, 1, Qt::AlignLeft);

    // Readdressing: a dump recorded from one unit restored to another set to a different number.
    auto* device = new QHBoxLayout;
    chkDeviceId = new QCheckBox(QStringLiteral("機器 ID を書き換える"), this);
    edtDeviceId = new QSpinBox(this);
    edtDeviceId->setRange(0, 0x7F);
    edtDeviceId->setDisplayIntegerBase(16);
    edtDeviceId->setSuffix(QStringLiteral("H"));
    edtDeviceId->setValue(0x10);
    edtDeviceId->setEnabled(false);
    edtDeviceId->setToolTip(QStringLiteral("Roland 00H-1FH、ヤマハ・KORG 0H-FH、ユニバーサル (7FH はそのまま)"));
    device->addWidget(chkDeviceId);
    device->addWidget(edtDeviceId);
    device->addStretch();
    grid->addLayout(device, 7, 0, 1, 2);

    barProgress = new QProgressBar(this);
    barProgress->setRange(0, BarSteps);
    barProgress->setValue(0);
    grid->addWidget(barProgress, 4, 0, 1, 2);
    lblProgress = new QLabel(this);
    lblProgress->setFont(LayoutFont(QStringLiteral("ＭＳ Ｐゴシック"), 13, scale, true));
    lblProgress->setWordWrap(true);
    grid->addWidget(lblProgress, 5, 0, 1, 2);

    auto* buttons = new QHBoxLayout;
    btnStart = new QPushButton(QStringLiteral("開始"), this);
    btnStop = new QPushButton(QStringLiteral("中止"), this);
    btnClose = new QPushButton(QStringLiteral("閉じる"), this);
    btnStart->setDefault(true);
    buttons->addStretch();
    for (QPushButton* button : {btnStart, btnStop, btnClose}) buttons->addWidget(button);
    grid->addLayout(buttons, 8, 0, 1, 2);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    SetIdle(true);
    if (setup_.port && MessageCount() == 0) lblProgress->setText(QStringLiteral("送信するデータがありません"));

    timer_ = new QTimer(this);
    timer_->setInterval(TickMs);
}

void TSend::WireHandlers() {
    auto rangeEnabled = [this] {
        edtFrom->setEnabled(rbRange->isChecked() && !Sending());
        edtTo->setEnabled(rbRange->isChecked() && !Sending());
    };
    connect(rbRange, &QRadioButton::toggled, this, rangeEnabled);
    connect(chkDeviceId, &QCheckBox::toggled, this, [this](bool on) { edtDeviceId->setEnabled(on && !Sending()); });
    rangeEnabled();
    // The range never runs backwards.
    connect(edtFrom, &QSpinBox::valueChanged, this, [this](int from) {
        if (edtTo->value() < from) edtTo->setValue(from);
    });
    connect(edtTo, &QSpinBox::valueChanged, this, [this](int to) {
        if (edtFrom->value() > to) edtFrom->setValue(to);
    });
    // Before a send the line tells what the chosen range and pace will take.
    const auto showPlan = [this] { RunGuarded([this] { ShowPlan(); }); };
    for (QSpinBox* box : {edtFrom, edtTo, edtPause}) connect(box, &QSpinBox::valueChanged, this, showPlan);
    connect(rbRange, &QRadioButton::toggled, this, showPlan);
    connect(cmbSpeed, &QComboBox::currentIndexChanged, this, showPlan);
    ShowPlan();
    connect(btnStart, &QPushButton::clicked, this, Guarded([this](bool) { btnStartClick(); }));
    connect(btnStop, &QPushButton::clicked, this, Guarded([this](bool) { btnStopClick(); }));
    connect(btnClose, &QPushButton::clicked, this, [this] { reject(); });
    connect(timer_, &QTimer::timeout, this, [this] { RunGuarded([this] { Tick(); }); });
}

void TSend::SetIdle(bool idle) {
    const bool canStart = setup_.port != nullptr && MessageCount() > 0;
    btnStart->setEnabled(idle && canStart);
    btnStop->setEnabled(!idle);
    for (QWidget* w : std::initializer_list<QWidget*>{rbAll, rbRange, edtPause, cmbSpeed, chkDeviceId}) {
        w->setEnabled(idle && canStart);
    }
    edtDeviceId->setEnabled(idle && canStart && chkDeviceId->isChecked());
    edtFrom->setEnabled(idle && canStart && rbRange->isChecked());
    edtTo->setEnabled(idle && canStart && rbRange->isChecked());
    (idle ? btnStart : btnStop)->setDefault(true);
}

std::pair<int, int> TSend::ChosenRange() const {
    if (rbAll->isChecked()) return {0, MessageCount() - 1};
    return {edtFrom->value() - 1, std::min(edtTo->value(), MessageCount()) - 1};
}

void TSend::ShowPlan() {
    if (Sending() || !setup_.port || MessageCount() == 0) return;
    const auto [first, last] = ChosenRange();
    std::uint64_t bytes = 0;
    for (int k = first; k <= last; ++k) bytes += setup_.messageSizes[static_cast<std::size_t>(k)];
    const midi::Pace pace = ChosenPace();
    const auto planned = midi::PacedTime(bytes, pace.speedPercent) +
                         std::chrono::milliseconds(pace.pauseMs) * std::max(last - first, 0);
    // At the fastest speed only the port knows how long the bytes take.
    const QString time = Clock(std::chrono::ceil<std::chrono::milliseconds>(planned)) +
                         (pace.speedPercent == midi::FastestSpeed ? QStringLiteral(" + ポートの速さしだい") : QString());
    lblProgress->setText(
        QStringLiteral("%1 メッセージ  %2 バイト  所要 %3").arg(last - first + 1).arg(bytes).arg(time));
}

midi::Pace TSend::ChosenPace() const {
    return {static_cast<std::uint32_t>(edtPause->value()), cmbSpeed->currentData().toInt()};
}

QString TSend::ProgressText(const midi::TransmissionProgress& progress) {
    return QStringLiteral("%1/%2 メッセージ  %3/%4 バイト  残り %5")
        .arg(progress.messagesDone)
        .arg(progress.messagesTotal)
        .arg(progress.bytesDone)
        .arg(progress.bytesTotal)
        .arg(Clock(progress.timeLeft));
}

void TSend::btnStartClick() {
    if (!setup_.port || MessageCount() == 0 || Sending()) return;
    const auto [first, last] = ChosenRange();
    std::vector<std::vector<std::uint8_t>> messages;
    std::vector<int> numbers;
    for (int k = first; k <= last; ++k) {
        messages.push_back(setup_.message(k));
        numbers.push_back(k);
    }
    if (chkDeviceId->isChecked()) {
        // Copies are readdressed; a number one of them cannot hold stops the send before it starts.
        const auto id = static_cast<std::uint32_t>(edtDeviceId->value());
        const std::string problem = sysex::DeviceIdProblem(messages, numbers, id);
        if (!problem.empty()) throw kelvane::Failure(problem);
        for (auto& message : messages) sysex::SetDeviceId(message, static_cast<std::uint8_t>(id));
    }
    const midi::Pace pace = ChosenPace();
    transmission_ = std::make_unique<midi::Transmission>(std::move(messages), pace);
    firstSent_ = first;
    finished_ = false;
    midi::Transmission* transmission = transmission_.get();
    midi::OutputPort* port = setup_.port;
    engine_ = std::async(std::launch::async, [transmission, port] { return transmission->Run(*port); });
    SetIdle(false);
    btnStop->setFocus();
    barProgress->setValue(0);
    lblProgress->setText(ProgressText(transmission_->Progress()));
    timer_->start();
    // Remembered once the send is under way: a settings store that cannot be written is told,
    // but it stops nothing.
    if (setup_.paceChosen) RunGuarded([&] { setup_.paceChosen(pace); });
}

void TSend::btnStopClick() {
    if (transmission_ && Sending()) transmission_->Cancel();
    btnStop->setEnabled(false);
}

void TSend::Tick() {
    if (!transmission_) return;
    const midi::TransmissionProgress progress = transmission_->Progress();
    if (progress.bytesTotal > 0) {
        barProgress->setValue(static_cast<int>(progress.bytesDone * BarSteps / progress.bytesTotal));
    }
    lblProgress->setText(ProgressText(progress));
    if (engine_.valid() && engine_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) Finish();
}

void TSend::Finish() {
    timer_->stop();
    outcome_ = engine_.get();
    finished_ = true;
    const midi::TransmissionProgress progress = transmission_->Progress();
    const QString counts = QStringLiteral("%1/%2 メッセージ  %3 バイト  %4")
                               .arg(outcome_.messagesWhole)
                               .arg(progress.messagesTotal)
                               .arg(outcome_.bytes)
                               .arg(SecondsText(outcome_.elapsed));
    if (!outcome_.error.empty() && setup_.portGone && setup_.portGone()) {
        // Its port is closed now; a further send here would have nowhere to go.
        setup_.port = nullptr;
        lblProgress->setText(QStringLiteral("出力ポート「") + QString::fromStdString(setup_.portName) +
                             QStringLiteral("」がなくなったため、送信を続けられませんでした。\n送信済み ") + counts +
                             QStringLiteral("\n接続を確かめて、メインウィンドウの MIDI OUT の一覧から出力ポートを"
                                            "選び直してから、もう一度送信してください"));
        lblPort->setText(QString::fromStdString(setup_.portName) + QStringLiteral(" (見つかりません)"));
    } else if (!outcome_.error.empty()) {
        lblProgress->setText(QStringLiteral("失敗しました: ") + QString::fromStdString(outcome_.error) +
                             QStringLiteral("\n送信済み ") + counts);
    } else if (outcome_.cancelled) {
        lblProgress->setText(QStringLiteral("中止しました: ") + counts);
    } else {
        barProgress->setValue(BarSteps);
        lblProgress->setText(QStringLiteral("完了しました: ") + counts);
    }
    if (!outcome_.messagesInDoubt.empty()) {
        QStringList numbers;
        for (const std::size_t k : outcome_.messagesInDoubt) numbers << QString::number(firstSent_ + static_cast<int>(k) + 1);
        lblProgress->setText(lblProgress->text() + QStringLiteral("\nJACK の処理周期に間に合わなかったため、メッセージ ") +
                             numbers.join(QStringLiteral(", ")) +
                             QStringLiteral(" が届いていないか欠けている可能性があります。もう一度送信してください"));
    }
    SetIdle(true);
    if (closeWhenDone_) QDialog::reject();
}

void TSend::reject() {
    if (!Sending()) {
        QDialog::reject();
        return;
    }
    if (closeWhenDone_ || !setup_.confirmStop()) return;
    // Closed by the next tick once the engine has ended.
    closeWhenDone_ = true;
    btnStopClick();
}

}  // namespace ui
