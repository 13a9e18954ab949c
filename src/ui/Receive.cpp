#include "ui/Receive.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "common/Failure.h"
#include "midi/Input.h"
#include "ui/MessageList.h"
#include "ui/PortSelector.h"
#include "ui/Notice.h"
#include "ui/Scaling.h"

namespace ui {

namespace {
// Often enough that the count looks live and an idle stop comes on time; the timer only reads
// a few atomics.
constexpr int TickMs = 50;
constexpr double DefaultIdleSeconds = 1.0;
}  // namespace

TReceive::TReceive(QWidget* owner, double scale, ReceiveSetup setup) : QDialog(owner), setup_(std::move(setup)) {
    setWindowTitle(QStringLiteral("受信"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    CreateControls(scale);
    WireHandlers();
}

TReceive::~TReceive() { CloseInput(); }

void TReceive::CreateControls(double scale) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    setFont(LayoutFont(QStringLiteral("ＭＳ Ｐゴシック"), 13, scale));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(Scaled(8, scale), Scaled(8, scale), Scaled(8, scale), Scaled(8, scale));
    grid->setHorizontalSpacing(Scaled(6, scale));
    grid->setVerticalSpacing(Scaled(6, scale));

    grid->addWidget(new QLabel(QStringLiteral("入力ポート"), this), 0, 0);
    cmbInput = new PortSelector(this);
    cmbInput->setEditable(false);
    cmbInput->setFont(LayoutFont(QStringLiteral("Arial"), 12, scale, true));
    cmbInput->setMinimumWidth(Scaled(223, scale));
    for (const std::string& entry : setup_.inputEntries) cmbInput->addItem(QString::fromStdString(entry));
    cmbInput->setCurrentIndex(setup_.rememberedEntry < cmbInput->count() ? setup_.rememberedEntry : -1);
    grid->addWidget(cmbInput, 0, 1);

    chkRequest = new QCheckBox(QStringLiteral("先に送信"), this);
    grid->addWidget(chkRequest, 1, 0);
    cmbRequest = new QComboBox(this);
    cmbRequest->setEditable(false);
    for (const std::string& line : setup_.requestLines) cmbRequest->addItem(QString::fromStdString(line));
    grid->addWidget(cmbRequest, 1, 1);
    // A request can only be a message of the loaded dump.
    chkRequest->setEnabled(!setup_.requestLines.empty());
    cmbRequest->setEnabled(false);

    grid->addWidget(new QLabel(QStringLiteral("無信号で停止"), this), 2, 0);
    edtIdle = new QDoubleSpinBox(this);
    edtIdle->setRange(0.0, 60.0);
    edtIdle->setDecimals(1);
    edtIdle->setSingleStep(0.5);
    edtIdle->setSuffix(QStringLiteral(" 秒"));
    edtIdle->setSpecialValueText(QStringLiteral("しない (手動で停止)"));
    edtIdle->setValue(DefaultIdleSeconds);
    grid->addWidget(edtIdle, 2, 1);

    lblCount = new QLabel(CountText({}), this);
    lblCount->setFont(LayoutFont(QStringLiteral("ＭＳ Ｐゴシック"), 13, scale, true));
    grid->addWidget(lblCount, 3, 0, 1, 2);

    auto* buttons = new QHBoxLayout;
    btnStart = new QPushButton(QStringLiteral("開始"), this);
    btnStop = new QPushButton(QStringLiteral("停止"), this);
    btnCancel = new QPushButton(QStringLiteral("キャンセル"), this);
    btnStart->setDefault(true);
    btnStop->setEnabled(false);
    buttons->addStretch();
    for (QPushButton* button : {btnStart, btnStop, btnCancel}) buttons->addWidget(button);
    grid->addLayout(buttons, 4, 0, 1, 2);
    btnStart->setEnabled(cmbInput->currentIndex() > 0);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    timer_ = new QTimer(this);
    timer_->setInterval(TickMs);
}

void TReceive::WireHandlers() {
    connect(cmbInput, &PortSelector::userChose, this, Guarded([this](int entry) {
                btnStart->setEnabled(entry > 0);
                if (setup_.inputChosen) setup_.inputChosen(entry);
            }));
    connect(chkRequest, &QCheckBox::toggled, this, [this](bool on) { cmbRequest->setEnabled(on); });
    connect(btnStart, &QPushButton::clicked, this, Guarded([this](bool) { btnStartClick(); }));
    connect(btnStop, &QPushButton::clicked, this, Guarded([this](bool) { btnStopClick(); }));
    connect(btnCancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(timer_, &QTimer::timeout, this, [this] { RunGuarded([this] { Tick(); }); });
}

QString TReceive::CountText(const sysex::Reception::Progress& progress) {
    return QString::number(progress.messages) + QStringLiteral(" メッセージ  ") + QString::number(progress.bytes) +
           QStringLiteral(" バイト");
}

void TReceive::btnStartClick() {
    auto reception = std::make_unique<sysex::Reception>();
    sysex::Reception* target = reception.get();
    midi::InputOpenResult opened = midi::OpenInputEntry(
        cmbInput->currentIndex(), [target](std::span<const std::uint8_t> bytes) { target->Feed(bytes); });
    if (opened.code != 0) {
        throw kelvane::Failure("入力ポート " + cmbInput->currentText().toStdString() + " を開けません: " + opened.error);
    }
    reception_ = std::move(reception);
    input_ = std::move(opened.port);
    for (QWidget* w : std::initializer_list<QWidget*>{cmbInput, chkRequest, cmbRequest, edtIdle, btnStart})
        w->setEnabled(false);
    btnStop->setEnabled(true);
    btnStop->setDefault(true);
    btnStop->setFocus();
    timer_->start();
    // The input is open first, so that no byte of the reply can come before anybody listens.
    if (chkRequest->isChecked() && cmbRequest->currentIndex() >= 0 && setup_.sendRequest) {
        setup_.sendRequest(cmbRequest->currentIndex());
    }
}

void TReceive::Tick() {
    if (!reception_) return;
    const auto progress = reception_->Now();
    lblCount->setText(CountText(progress));
    const auto idle = std::chrono::milliseconds(static_cast<long long>(edtIdle->value() * 1000.0 + 0.5));
    if (sysex::ReceptionDone(progress, sysex::Reception::Clock::now(), idle, 0)) btnStopClick();
}

void TReceive::btnStopClick() {
    if (!reception_) return;
    CloseInput();
    lblCount->setText(CountText(reception_->Now()));
    accept();
}

void TReceive::CloseInput() {
    timer_->stop();
    if (input_) {
        inputError_ = input_->LastError();
        input_.reset();
    }
}

void TReceive::reject() {
    CloseInput();
    reception_.reset();
    QDialog::reject();
}

}  // namespace ui
