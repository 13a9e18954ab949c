#include "ui/Receive.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTimer>

#include "common/Failure.h"
#include "midi/Input.h"
#include "sysex/Inspector.h"
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
    cmbInput->Refill(setup_.inputEntries);
    cmbInput->setCurrentIndex(setup_.rememberedEntry < cmbInput->count() ? setup_.rememberedEntry : -1);
    grid->addWidget(cmbInput, 0, 1);

    chkRequest = new QCheckBox(QStringLiteral("先に要求を送信"), this);
    grid->addWidget(chkRequest, 1, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("送信先"), this), 2, 0);
    cmbRequestOutput = new PortSelector(this);
    cmbRequestOutput->setFont(portFont);
    cmbRequestOutput->Refill(setup_.outputEntries);
    cmbRequestOutput->setCurrentIndex(setup_.openOutputEntry < cmbRequestOutput->count() ? setup_.openOutputEntry : 0);
    grid->addWidget(cmbRequestOutput, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("要求"), this), 3, 0);
    cmbRequest = new QComboBox(this);
    // Typed hex first and by default whatever line is selected in the window (the line looked at
    // last is as likely a bank as a request); then the loaded messages, which may be millions, so
    // their lines are made as the list shows them; then the named requests, by their name.
    const int messages = setup_.requestCount;
    const auto& named = sysex::NamedRequests();
    auto* requests = new LazyLines(cmbRequest);
    requests->Show(
        1 + messages + static_cast<int>(named.size()),
        [line = setup_.requestLine, messages, &named](int row) {
            if (row == 0) return QStringLiteral("16 進数で入力");
            if (row <= messages) return QString::fromStdString(line(row - 1));
            const sysex::NamedRequest& request = named[static_cast<std::size_t>(row - 1 - messages)];
            return QString::fromStdString(request.name + "  " + request.description);
        },
        [messages, &named](int row) {
            return row > messages ? QVariant(QString::fromStdString(named[static_cast<std::size_t>(row - 1 - messages)].name))
                                  : QVariant();
        });
    cmbRequest->setModel(requests);
    // The named requests' descriptions are long; they must not widen the dialog.
    cmbRequest->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cmbRequest->setMinimumContentsLength(28);
    if (auto* popup = qobject_cast<QListView*>(cmbRequest->view())) popup->setUniformItemSizes(true);
    cmbRequest->setCurrentIndex(0);
    grid->addWidget(cmbRequest, 3, 1);
    edtRequestHex = new QLineEdit(this);
    edtRequestHex->setFont(portFont);
    edtRequestHex->setPlaceholderText(QStringLiteral("F0 7E 7F 06 01 F7"));
    grid->addWidget(edtRequestHex, 4, 1);
    // Shares the typed hex's place: only one of them shows.
    pnlRequestParameters = new QWidget(this);
    auto* parameters = new QFormLayout(pnlRequestParameters);
    parameters->setContentsMargins(0, 0, 0, 0);
    pnlRequestParameters->hide();
    grid->addWidget(pnlRequestParameters, 4, 1);

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
    btnIdentify = new QPushButton(QStringLiteral("機器を確認"), this);
    btnIdentify->setToolTip(QStringLiteral("送信先に Identity Request を送り、入力ポートに届いた応答を表示します"));
    buttons->insertWidget(0, btnIdentify);
    lblIdentity = new QLabel(this);
    lblIdentity->setWordWrap(true);
    lblIdentity->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(lblIdentity, 9, 0, 1, 2);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    timer_ = new QTimer(this);
    timer_->setInterval(TickMs);
    identifyTimer_ = new QTimer(this);
    identifyTimer_->setSingleShot(true);
    identifyTimer_->setInterval(IdentifyWaitMs);
}

void TReceive::WireHandlers() {
    connect(cmbInput, &PortSelector::userChose, this, Guarded([this](int entry) {
                lostPort_.clear();
                ShowStartState();
                if (setup_.inputChosen) setup_.inputChosen(entry);
            }));
    connect(cmbRequestOutput, &PortSelector::userChose, this, [this] { lostPort_.clear(); });
    cmbInput->beforePopup = [this] { RunGuarded([this] { Relist(cmbInput, setup_.listInputs, "入力ポート"); }); };
    cmbRequestOutput->beforePopup = [this] {
        RunGuarded([this] { Relist(cmbRequestOutput, setup_.listOutputs, "送信先"); });
    };
    auto update = [this] { ShowStartState(); };
    connect(chkRequest, &QCheckBox::toggled, this, update);
    connect(cmbRequestOutput, &QComboBox::currentIndexChanged, this, update);
    connect(cmbRequest, &QComboBox::currentIndexChanged, this, [this] {
        ShowRequestParameters();
        ShowStartState();
    });
    connect(edtRequestHex, &QLineEdit::textChanged, this, update);
    connect(btnStart, &QPushButton::clicked, this, Guarded([this](bool) { btnStartClick(); }));
    connect(btnStop, &QPushButton::clicked, this, Guarded([this](bool) { btnStopClick(); }));
    connect(btnCancel, &QPushButton::clicked, this, Guarded([this](bool) { reject(); }));
    connect(timer_, &QTimer::timeout, this, [this] { RunGuarded([this] { Tick(); }); });
    connect(btnIdentify, &QPushButton::clicked, this, Guarded([this](bool) { btnIdentifyClick(); }));
    connect(identifyTimer_, &QTimer::timeout, this, [this] { RunGuarded([this] { FinishIdentify(); }); });
}

QString TReceive::CountText(const sysex::Reception::Progress& progress) {
    return QString::number(progress.messages) + QStringLiteral(" メッセージ  ") + QString::number(progress.bytes) +
           QStringLiteral(" バイト");
}

const sysex::NamedRequest* TReceive::ChosenNamedRequest() const {
    const QVariant name = cmbRequest->currentData();
    return name.isValid() ? sysex::FindNamedRequest(name.toString().toStdString()) : nullptr;
}

void TReceive::ShowRequestParameters() {
    auto* form = static_cast<QFormLayout*>(pnlRequestParameters->layout());
    while (form->rowCount() > 0) form->removeRow(0);
    edtParameters.clear();
    const sysex::NamedRequest* named = ChosenNamedRequest();
    if (named) {
        for (const sysex::RequestParameter& parameter : named->parameters) {
            auto* field = new QLineEdit(pnlRequestParameters);
            if (parameter.byDefault) {
                field->setPlaceholderText(QStringLiteral("省略時 ") +
                                          QString::fromStdString(sysex::ParameterValueText(parameter, *parameter.byDefault)));
            }
            field->setToolTip(QString::fromStdString(parameter.meaning + " (" + sysex::ParameterRangeText(parameter) + ")"));
            connect(field, &QLineEdit::textChanged, this, [this] { ShowStartState(); });
            form->addRow(QString::fromStdString(parameter.name), field);
            edtParameters.push_back(field);
        }
    }
    pnlRequestParameters->setVisible(named != nullptr && !named->parameters.empty());
    edtRequestHex->setVisible(named == nullptr);
}

sysex::ParsedRequest TReceive::CurrentRequest() const {
    if (const sysex::NamedRequest* named = ChosenNamedRequest()) {
        // An empty field leaves the parameter to its default, or to the problem that it has none.
        std::vector<std::pair<std::string, std::string>> values;
        for (std::size_t i = 0; i < edtParameters.size() && i < named->parameters.size(); ++i) {
            const std::string text = edtParameters[i]->text().trimmed().toStdString();
            if (!text.empty()) values.emplace_back(named->parameters[i].name, text);
        }
        sysex::BuiltRequest built = sysex::BuildNamedRequest(*named, values);
        return {std::move(built.bytes), std::move(built.problem)};
    }
    const int message = ChosenMessage();
    if (message < 0) return sysex::ParseRequestHex(edtRequestHex->text().toStdString());
    sysex::ParsedRequest request;
    if (setup_.storedMessage) request.bytes = setup_.storedMessage(message);
    request.problem = sysex::RequestProblem(request.bytes);
    return request;
}

void TReceive::Relist(PortSelector* list, const std::function<std::vector<std::string>()>& entries,
                      const char* kind) {
    if (!entries) return;
    const std::string lost = list->Refill(entries());
    if (list == cmbInput) setup_.inputListingGap = midi::InputListingGap();
    if (!lost.empty()) lostPort_ = std::string(kind) + "「" + lost + "」が見つかりません。接続を確かめて、選び直してください";
    ShowStartState();
}

int TReceive::ChosenMessage() const {
    const int message = cmbRequest->currentIndex() - 1;
    return message < setup_.requestCount ? message : -1;
}

bool TReceive::RequestConfirmed(const sysex::ParsedRequest& request) const {
    const int message = ChosenMessage();
    if (message < 0 || request.bytes.size() <= sysex::LongestPlausibleRequest) return true;
    return AskYesNo("メッセージ " + std::to_string(message + 1) + " は " + std::to_string(request.bytes.size()) +
                    " バイトあり、要求ではなくデータの可能性があります。機器のデータを上書きするおそれがあります。"
                    "要求として送信しますか?");
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
    pnlRequestParameters->setEnabled(request);
    const std::string problem = StartProblem();
    btnStart->setEnabled(problem.empty() && !identifyInput_);
    // A listing that lacks a server says so even while a port is chosen.
    const std::string reason = problem.empty() ? setup_.inputListingGap : problem;
    lblReason->setText(QString::fromStdString(lostPort_.empty() || reason.empty() ? lostPort_ + reason
                                                                                   : lostPort_ + "\n" + reason));
}

void TReceive::btnIdentifyClick() {
    if (reception_ || identifyInput_) return;
    if (cmbInput->currentIndex() <= 0 || cmbRequestOutput->currentIndex() <= 0) {
        lblIdentity->setText(QStringLiteral("機器を確認するには、入力ポートと送信先を選んでください"));
        return;
    }
    auto replies = std::make_unique<sysex::ReplyCollector>();
    sysex::ReplyCollector* collector = replies.get();
    midi::InputOpenResult opened = midi::OpenInputEntry(
        cmbInput->currentIndex(),
        midi::ByteReceiver([collector](std::span<const std::uint8_t> bytes) { collector->Feed(bytes); }));
    if (opened.code != 0) {
        throw kelvane::Failure("入力ポート " + cmbInput->ChosenName() + " を開けません: " + opened.error);
    }
    // The input listens before the request goes, as for a reception; whatever came before it
    // answers an earlier request.
    collector->Discard();
    if (setup_.sendRequest) setup_.sendRequest(cmbRequestOutput->currentIndex(), sysex::IdentityRequestMessage);
    identifyReplies_ = std::move(replies);
    identifyInput_ = std::move(opened.port);
    btnIdentify->setEnabled(false);
    btnStart->setEnabled(false);
    lblIdentity->setText(QStringLiteral("応答を待っています..."));
    identifyTimer_->start();
}

void TReceive::FinishIdentify() {
    identifyInput_.reset();
    const std::string answers =
        identifyReplies_ ? sysex::IdentifyAnswersText(sysex::SortIdentifyAnswers(identifyReplies_->Take())) : std::string();
    identifyReplies_.reset();
    lblIdentity->setText(answers.empty() ? QStringLiteral("応答がありません (接続と機器の MIDI 設定を確かめてください)")
                                         : QString::fromStdString(answers));
    btnIdentify->setEnabled(true);
    ShowStartState();
}

void TReceive::btnStartClick() {
    if (reception_ || identifyInput_ || !StartProblem().empty()) return;
    const sysex::ParsedRequest request =
        chkRequest->isChecked() ? CurrentRequest() : sysex::ParsedRequest{};
    if (!RequestConfirmed(request)) return;
    auto reception = std::make_unique<sysex::Reception>();
    midi::InputOpenResult opened = midi::OpenInputEntry(cmbInput->currentIndex(), midi::ReceiverFor(*reception));
    if (opened.code != 0) {
        throw kelvane::Failure("入力ポート " + cmbInput->ChosenName() + " を開けません: " + opened.error);
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
                                                      edtRequestHex, pnlRequestParameters, edtIdle, btnStart,
                                                      btnIdentify})
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
    identifyTimer_->stop();
    identifyInput_.reset();
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
