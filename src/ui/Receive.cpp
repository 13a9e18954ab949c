#include "ui/Receive.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTimer>

#include "common/Failure.h"
#include "midi/Input.h"
#include "ui/LazyLines.h"
#include "ui/MessageList.h"
#include "ui/Notice.h"
#include "ui/PortSelector.h"
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
    ShowStartState();
}

TReceive::~TReceive() { CloseInput(); }

void TReceive::CreateControls(double scale) {
    QGridLayout* grid = DialogGrid(this, scale);
    const QFont portFont = LayoutFont(QStringLiteral("Arial"), 12, scale, true);

    grid->addWidget(new QLabel(QStringLiteral("入力ポート"), this), 0, 0);
    cmbInput = new PortSelector(this);
    cmbInput->setEditable(false);
    cmbInput->setFont(portFont);
    cmbInput->setMinimumWidth(Scaled(260, scale));
    for (const std::string& entry : setup_.inputEntries) cmbInput->addItem(QString::fromStdString(entry));
    cmbInput->setCurrentIndex(setup_.rememberedEntry < cmbInput->count() ? setup_.rememberedEntry : -1);
    grid->addWidget(cmbInput, 0, 1);

    chkRequest = new QCheckBox(QStringLiteral("先に要求を送信"), this);
    grid->addWidget(chkRequest, 1, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("送信先"), this), 2, 0);
    cmbRequestOutput = new QComboBox(this);
    cmbRequestOutput->setFont(portFont);
    for (const std::string& entry : setup_.outputEntries) cmbRequestOutput->addItem(QString::fromStdString(entry));
    cmbRequestOutput->setCurrentIndex(setup_.openOutputEntry < cmbRequestOutput->count() ? setup_.openOutputEntry : 0);
    grid->addWidget(cmbRequestOutput, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("要求"), this), 3, 0);
    cmbRequest = new QComboBox(this);
    // The loaded messages may be millions: their lines are made as the list shows them, and the
    // box takes its width from the first line rather than from measuring every one.
    auto* requests = new LazyLines(cmbRequest);
    requests->Show(setup_.requestCount + 1, [line = setup_.requestLine](int row) {
        return row == 0 ? QStringLiteral("16 進数で入力") : QString::fromStdString(line(row - 1));
    });
    cmbRequest->setModel(requests);
    cmbRequest->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cmbRequest->setMinimumContentsLength(18);
    if (auto* popup = qobject_cast<QListView*>(cmbRequest->view())) popup->setUniformItemSizes(true);
    cmbRequest->setCurrentIndex(setup_.selectedMessage >= 0 && setup_.selectedMessage + 1 < cmbRequest->count()
                                    ? setup_.selectedMessage + 1
                                    : 0);
    grid->addWidget(cmbRequest, 3, 1);
    edtRequestHex = new QLineEdit(this);
    edtRequestHex->setFont(portFont);
    edtRequestHex->setPlaceholderText(QStringLiteral("F0 7E 7F 06 01 F7"));
    grid->addWidget(edtRequestHex, 4, 1);

    grid->addWidget(new QLabel(QStringLiteral("無信号で停止"), this), 5, 0);
    edtIdle = new QDoubleSpinBox(this);
    edtIdle->setRange(0.0, 60.0);
    edtIdle->setDecimals(1);
    edtIdle->setSingleStep(0.5);
    edtIdle->setSuffix(QStringLiteral(" 秒"));
    edtIdle->setSpecialValueText(QStringLiteral("しない (手動で停止)"));
    edtIdle->setValue(DefaultIdleSeconds);
    grid->addWidget(edtIdle, 5, 1);

    lblReason = new QLabel(this);
    lblReason->setWordWrap(true);
    QPalette warning = lblReason->palette();
    warning.setColor(QPalette::WindowText, QColor(0xA0, 0x00, 0x00));
    lblReason->setPalette(warning);
    grid->addWidget(lblReason, 6, 0, 1, 2);

    lblCount = new QLabel(CountText({}), this);
    lblCount->setFont(LayoutFont(QStringLiteral("ＭＳ Ｐゴシック"), 13, scale, true));
    grid->addWidget(lblCount, 7, 0, 1, 2);

    auto* buttons = new QHBoxLayout;
    btnStart = new QPushButton(QStringLiteral("開始"), this);
    btnStop = new QPushButton(QStringLiteral("停止"), this);
    btnCancel = new QPushButton(QStringLiteral("キャンセル"), this);
    btnStart->setDefault(true);
    btnStop->setEnabled(false);
    buttons->addStretch();
    for (QPushButton* button : {btnStart, btnStop, btnCancel}) buttons->addWidget(button);
    grid->addLayout(buttons, 8, 0, 1, 2);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    timer_ = new QTimer(this);
    timer_->setInterval(TickMs);
}

void TReceive::WireHandlers() {
    connect(cmbInput, &PortSelector::userChose, this, Guarded([this](int entry) {
                ShowStartState();
                if (setup_.inputChosen) setup_.inputChosen(entry);
            }));
    auto update = [this] { ShowStartState(); };
    connect(chkRequest, &QCheckBox::toggled, this, update);
    connect(cmbRequestOutput, &QComboBox::currentIndexChanged, this, update);
    connect(cmbRequest, &QComboBox::currentIndexChanged, this, update);
    connect(edtRequestHex, &QLineEdit::textChanged, this, update);
    connect(btnStart, &QPushButton::clicked, this, Guarded([this](bool) { btnStartClick(); }));
    connect(btnStop, &QPushButton::clicked, this, Guarded([this](bool) { btnStopClick(); }));
    connect(btnCancel, &QPushButton::clicked, this, Guarded([this](bool) { reject(); }));
    connect(timer_, &QTimer::timeout, this, [this] { RunGuarded([this] { Tick(); }); });
}

QString TReceive::CountText(const sysex::Reception::Progress& progress) {
    return QString::number(progress.messages) + QStringLiteral(" メッセージ  ") + QString::number(progress.bytes) +
           QStringLiteral(" バイト");
}

sysex::ParsedRequest TReceive::CurrentRequest() const {
    const int message = cmbRequest->currentIndex() - 1;
    if (message < 0) return sysex::ParseRequestHex(edtRequestHex->text().toStdString());
    sysex::ParsedRequest request;
    if (setup_.storedMessage) request.bytes = setup_.storedMessage(message);
    request.problem = sysex::RequestProblem(request.bytes);
    return request;
}

std::string TReceive::StartProblem() const {
    if (cmbInput->currentIndex() <= 0) {
        return setup_.inputListingGap.empty() ? "入力ポートを選んでください"
                                              : "入力ポートを選んでください (" + setup_.inputListingGap + ")";
    }
    if (!chkRequest->isChecked()) return {};
    if (cmbRequestOutput->currentIndex() <= 0) return "要求の送信先ポートを選んでください";
    return CurrentRequest().problem;
}

void TReceive::ShowStartState() {
    if (reception_) return;
    const bool request = chkRequest->isChecked();
    cmbRequestOutput->setEnabled(request);
    cmbRequest->setEnabled(request);
    edtRequestHex->setEnabled(request && cmbRequest->currentIndex() == 0);
    const std::string problem = StartProblem();
    btnStart->setEnabled(problem.empty());
    // A listing that lacks a server says so even while a port is chosen.
    lblReason->setText(QString::fromStdString(problem.empty() ? setup_.inputListingGap : problem));
}

void TReceive::btnStartClick() {
    if (reception_ || !StartProblem().empty()) return;
    const sysex::ParsedRequest request =
        chkRequest->isChecked() ? CurrentRequest() : sysex::ParsedRequest{};
    auto reception = std::make_unique<sysex::Reception>();
    midi::InputOpenResult opened = midi::OpenInputEntry(cmbInput->currentIndex(), midi::ReceiverFor(*reception));
    if (opened.code != 0) {
        throw kelvane::Failure("入力ポート " + cmbInput->currentText().toStdString() + " を開けません: " + opened.error);
    }
    // The input is open first, so that no byte of the reply can come before anybody listens.
    if (!request.bytes.empty() && setup_.sendRequest) {
        try {
            setup_.sendRequest(cmbRequestOutput->currentIndex(), request.bytes);
        } catch (...) {
            opened.port.reset();
            throw;
        }
    }
    reception_ = std::move(reception);
    input_ = std::move(opened.port);
    for (QWidget* w : std::initializer_list<QWidget*>{cmbInput, chkRequest, cmbRequestOutput, cmbRequest,
                                                      edtRequestHex, edtIdle, btnStart})
        w->setEnabled(false);
    lblReason->clear();
    btnStop->setEnabled(true);
    btnStop->setDefault(true);
    btnStop->setFocus();
    timer_->start();
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
    input_.reset();
}

void TReceive::reject() {
    if (reception_ && input_) {
        const auto progress = reception_->Now();
        if (progress.messages > 0) {
            // The reception goes on meanwhile; only the idle stop waits for the answer, so that
            // the dialog does not close under the question.
            timer_->stop();
            const bool discard = AskYesNo("受信した " + std::to_string(progress.messages) + " メッセージ (" +
                                          std::to_string(progress.bytes) + " バイト) を破棄しますか?");
            if (!discard) {
                timer_->start();
                return;
            }
        }
    }
    CloseInput();
    reception_.reset();
    QDialog::reject();
}

}  // namespace ui
