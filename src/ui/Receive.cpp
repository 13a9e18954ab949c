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
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTimer>
#include <algorithm>

#include "common/Failure.h"
#include "midi/Input.h"
#include "sysex/Inspector.h"
#include "ui/LazyLines.h"
#include "ui/LineBreaks.h"
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

// The widest of `texts` in the combo's font, as wide as the combo must be to show it whole.
int ComboWidthFor(QComboBox* combo, const QStringList& texts) {
    int widest = 0;
    for (const QString& text : texts) widest = std::max(widest, combo->fontMetrics().horizontalAdvance(text));
    QStyleOptionComboBox option;
    option.initFrom(combo);
    return combo->style()->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(widest, combo->fontMetrics().height()), combo).width();
}
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
    // their lines are made as the list shows them; then the named requests, by what they ask for
    // (their name, as kelvane-cli takes it, in the tool tip).
    const int messages = setup_.requestCount;
    const auto& named = sysex::NamedRequests();
    auto* requests = new LazyLines(cmbRequest);
    requests->Show(
        1 + messages + static_cast<int>(named.size()),
        [line = setup_.requestLine, messages, &named](int row) {
            if (row == 0) return QStringLiteral("16 進数で入力");
            if (row <= messages) return QString::fromStdString(line(row - 1));
            return QString::fromStdString(named[static_cast<std::size_t>(row - 1 - messages)].description);
        },
        [messages, &named](int row) {
            return row > messages ? QVariant(QString::fromStdString(named[static_cast<std::size_t>(row - 1 - messages)].name))
                                  : QVariant();
        },
        [messages, &named](int row) {
            return row > messages ? QStringLiteral("kelvane-cli request ") +
                                        QString::fromStdString(named[static_cast<std::size_t>(row - 1 - messages)].name)
                                  : QString();
        });
    cmbRequest->setModel(requests);
    // Every entry shows whole, in the closed list and open: the dialog grows to the longest
    // description. Loaded messages' lines are short, at most as long as the one below.
    QStringList entries{QStringLiteral("16 進数で入力"), QStringLiteral("0000000 42H 4294967295Byte")};
    for (const sysex::NamedRequest& request : named) entries << QString::fromStdString(request.description);
    const int entryWidth = ComboWidthFor(cmbRequest, entries);
    cmbRequest->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cmbRequest->setMinimumWidth(entryWidth);
    if (auto* popup = qobject_cast<QListView*>(cmbRequest->view())) {
        popup->setUniformItemSizes(true);
        popup->setTextElideMode(Qt::ElideNone);
        popup->setMinimumWidth(entryWidth + popup->verticalScrollBar()->sizeHint().width());
    }
    cmbRequest->setCurrentIndex(0);
    grid->addWidget(cmbRequest, 3, 1);
    edtRequestHex = new QLineEdit(this);
    edtRequestHex->setFont(portFont);
    edtRequestHex->setPlaceholderText(QStringLiteral("F0 7E 7F 06 01 F7"));
    grid->addWidget(edtRequestHex, 4, 1);
    // Shares the typed hex's place: only one of them shows.
    pnlRequestParameters = new QWidget(this);
    auto* parameters = new QGridLayout(pnlRequestParameters);
    parameters->setColumnStretch(1, 1);
    parameters->setContentsMargins(0, 0, 0, 0);
    pnlRequestParameters->hide();
    grid->addWidget(pnlRequestParameters, 4, 1);
    lblRequestBytes = new BrokenLabel(this);
    lblRequestBytes->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(lblRequestBytes, 5, 0, 1, 2);

    grid->addWidget(new QLabel(QStringLiteral("無信号で停止"), this), 6, 0);
    edtIdle = new QDoubleSpinBox(this);
    edtIdle->setRange(0.0, 60.0);
    edtIdle->setDecimals(1);
    edtIdle->setSingleStep(0.5);
    edtIdle->setSuffix(QStringLiteral(" 秒"));
    edtIdle->setSpecialValueText(QStringLiteral("しない (手動で停止)"));
    edtIdle->setValue(DefaultIdleSeconds);
    grid->addWidget(edtIdle, 6, 1);

    lblReason = new BrokenLabel(this);
    QPalette warning = lblReason->palette();
    warning.setColor(QPalette::WindowText, QColor(0xA0, 0x00, 0x00));
    lblReason->setPalette(warning);
    grid->addWidget(lblReason, 7, 0, 1, 2);

    lblCount = new QLabel(CountText({}), this);
    lblCount->setFont(LayoutFont(QStringLiteral("ＭＳ Ｐゴシック"), 13, scale, true));
    grid->addWidget(lblCount, 8, 0, 1, 2);

    auto* buttons = new QHBoxLayout;
    btnStart = new QPushButton(QStringLiteral("開始"), this);
    btnStop = new QPushButton(QStringLiteral("停止"), this);
    btnCancel = new QPushButton(QStringLiteral("キャンセル"), this);
    btnStart->setDefault(true);
    btnStop->setEnabled(false);
    buttons->addStretch();
    for (QPushButton* button : {btnStart, btnStop, btnCancel}) buttons->addWidget(button);
    grid->addLayout(buttons, 9, 0, 1, 2);
    btnIdentify = new QPushButton(QStringLiteral("機器を確認"), this);
    btnIdentify->setToolTip(QStringLiteral("送信先に Identity Request を送り、入力ポートに届いた応答を表示します"));
    buttons->insertWidget(0, btnIdentify);
    lblIdentity = new BrokenLabel(this);
    lblIdentity->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(lblIdentity, 10, 0, 1, 2);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    // Texts break into lines as wide as the controls make the dialog; only a piece that cannot
    // break makes it wider.
    const QMargins margins = grid->contentsMargins();
    const int textWidth = grid->sizeHint().width() - margins.left() - margins.right();
    lblReason->SetBreakWidth(textWidth);
    lblIdentity->SetBreakWidth(textWidth);
    lblRequestBytes->SetBreakWidth(textWidth);

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
    // Replies name what answered on these ports to this request; another port or request asks
    // another question.
    auto changed = [this] {
        ForgetIdentity();
        ShowStartState();
    };
    connect(chkRequest, &QCheckBox::toggled, this, update);
    connect(cmbInput, &QComboBox::currentIndexChanged, this, changed);
    connect(cmbRequestOutput, &QComboBox::currentIndexChanged, this, changed);
    connect(cmbRequest, &QComboBox::currentIndexChanged, this, [this] {
        ForgetIdentity();
        ShowRequestParameters();
        ShowStartState();
    });
    connect(edtRequestHex, &QLineEdit::textChanged, this, changed);
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
    auto* rows = static_cast<QGridLayout*>(pnlRequestParameters->layout());
    // The rows of the request chosen before go with their widgets.
    while (QLayoutItem* item = rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    edtParameters.clear();
    const sysex::NamedRequest* named = ChosenNamedRequest();
    if (named) {
        // Each row reads as the documents put it: what the value is, the field, and its range;
        // the name kelvane-cli takes stays in the tool tip.
        for (const sysex::RequestParameter& parameter : named->parameters) {
            auto* field = new QLineEdit(pnlRequestParameters);
            if (parameter.byDefault) {
                field->setPlaceholderText(QStringLiteral("省略時 ") +
                                          QString::fromStdString(sysex::ParameterValueText(parameter, *parameter.byDefault)));
            }
            const QString range = QString::fromStdString(sysex::ParameterRangeText(parameter));
            field->setToolTip(QString::fromStdString(parameter.name + ": " + parameter.meaning) + QStringLiteral(" (") +
                              range + QStringLiteral(")"));
            connect(field, &QLineEdit::textChanged, this, [this] {
                ForgetIdentity();
                ShowStartState();
            });
            auto* label = new QLabel(QString::fromStdString(parameter.meaning), pnlRequestParameters);
            label->setToolTip(QString::fromStdString(parameter.name));
            label->setBuddy(field);
            const int row = static_cast<int>(edtParameters.size());
            rows->addWidget(label, row, 0);
            rows->addWidget(field, row, 1);
            rows->addWidget(new QLabel(range, pnlRequestParameters), row, 2);
            edtParameters.push_back(field);
        }
    }
    // Tab goes from the request through its fields, then on as before.
    QWidget* previous = cmbRequest;
    for (QLineEdit* field : edtParameters) {
        setTabOrder(previous, field);
        previous = field;
    }
    setTabOrder(previous, edtIdle);
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
    // 送信先 serves 機器を確認 as well, ticked or not.
    cmbRequestOutput->setEnabled(true);
    cmbRequest->setEnabled(request);
    edtRequestHex->setEnabled(request && cmbRequest->currentIndex() == 0);
    pnlRequestParameters->setEnabled(request);
    const std::string problem = StartProblem();
    btnStart->setEnabled(problem.empty() && !identifyInput_);
    // A listing that lacks a server says so even while a port is chosen.
    const std::string reason = problem.empty() ? setup_.inputListingGap : problem;
    lblReason->SetText(QString::fromStdString(lostPort_.empty() || reason.empty() ? lostPort_ + reason
                                                                                   : lostPort_ + "\n" + reason));
    ShowRequestBytes();
}

void TReceive::ShowRequestBytes() {
    if (!chkRequest->isChecked()) {
        lblRequestBytes->SetText(QStringLiteral("「開始」では要求を送信しません"));
        return;
    }
    const sysex::ParsedRequest request = CurrentRequest();
    if (!request.problem.empty()) {
        lblRequestBytes->SetText(QStringLiteral("送信するバイトを組み立てられません: ") + QString::fromStdString(request.problem));
        return;
    }
    QString hex;
    const std::size_t shown = std::min(request.bytes.size(), ShownRequestBytes);
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0) hex += u' ';
        hex += QString::fromStdString(sysex::HexByte(request.bytes[i]));
    }
    if (shown < request.bytes.size()) hex += QStringLiteral(" ... (全 %1 バイト)").arg(request.bytes.size());
    lblRequestBytes->SetText(QStringLiteral("「開始」で送信: ") + hex);
}

void TReceive::ForgetIdentity() {
    if (identifyInput_) {
        identityStale_ = true;
    } else {
        lblIdentity->Clear();
    }
}

void TReceive::btnIdentifyClick() {
    if (reception_ || identifyInput_) return;
    if (cmbInput->currentIndex() <= 0 || cmbRequestOutput->currentIndex() <= 0) {
        lblIdentity->SetText(QStringLiteral("機器を確認するには、入力ポートと送信先を選んでください"));
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
    identityStale_ = false;
    btnIdentify->setEnabled(false);
    btnStart->setEnabled(false);
    lblIdentity->SetText(QStringLiteral("応答を待っています..."));
    identifyTimer_->start();
}

void TReceive::FinishIdentify() {
    identifyInput_.reset();
    const std::string answers =
        identifyReplies_ ? sysex::IdentifyAnswersText(sysex::SortIdentifyAnswers(identifyReplies_->Take())) : std::string();
    identifyReplies_.reset();
    lblIdentity->SetText(answers.empty() ? QStringLiteral("応答がありません (接続と機器の MIDI 設定を確かめてください)")
                                         : QString::fromStdString(answers));
    btnIdentify->setEnabled(true);
    ShowStartState();
    // Replies to a question that no longer stands would name the wrong device.
    if (identityStale_) lblIdentity->Clear();
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
    lblReason->Clear();
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
