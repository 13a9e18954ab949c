#pragma once
// The receive dialog: pick an input port, optionally send a request first (on a port chosen
// here, a loaded message or hex typed in), watch the count of messages and bytes grow, and stop
// by hand ("停止") or after an idle time. Modal over the main window. The input's bytes are
// collected on the input's own thread into a sysex::Reception; the dialog only polls its
// progress with a timer, so it never waits on the input. The store is not touched here: the
// window moves the finished reception into it. Nothing received is thrown away without the
// user's word: Esc, キャンセル and the close box ask first once a message has come. GUI thread
// only.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "midi/InputService.h"
#include "sysex/Identity.h"
#include "sysex/NamedRequests.h"
#include "sysex/Reception.h"
#include "sysex/Request.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace ui {

class BrokenLabel;
class PortSelector;

// What the dialog needs from its window.
struct ReceiveSetup {
    std::vector<std::string> inputEntries;  // "(None)" first
    int rememberedEntry = 0;                // selected at first when it is an entry
    std::string inputListingGap;            // why the input list may lack ports; empty if complete
    std::vector<std::string> outputEntries; // the main window's output entries, "(None)" first
    int openOutputEntry = 0;                // the one open in the main window (0: none)
    int requestCount = 0;                   // the loaded messages, and their list lines
    std::function<std::string(int)> requestLine;
    // Both lists are listed afresh each time the user opens them: the input ports, and the
    // output ports (which the main window's selector follows, since both share one listing).
    std::function<std::vector<std::string>()> listInputs;
    std::function<std::vector<std::string>()> listOutputs;
    std::function<void(int entry)> inputChosen;  // the user picked an input entry
    std::function<std::vector<std::uint8_t>(int message)> storedMessage;  // bytes of a loaded message
    // Sends the request on an output entry now; throws kelvane::Failure when it cannot.
    std::function<void(int outputEntry, std::span<const std::uint8_t> request)> sendRequest;
};

class TReceive : public QDialog {
public:
    TReceive(QWidget* owner, double scale, ReceiveSetup setup);
    ~TReceive() override;

    // Components.
    PortSelector* cmbInput = nullptr;
    QCheckBox* chkRequest = nullptr;
    PortSelector* cmbRequestOutput = nullptr;
    QComboBox* cmbRequest = nullptr;     // entry 0, the default: typed in; then the loaded messages,
                                         // then the named requests (their item data is the name)
    QLineEdit* edtRequestHex = nullptr;
    QWidget* pnlRequestParameters = nullptr;  // one row per parameter of the named request chosen:
                                              // its meaning, the field, its range
    std::vector<QLineEdit*> edtParameters;    // in the order of the request's parameters
    BrokenLabel* lblRequestBytes = nullptr;   // the bytes 開始 sends first, or why there are none
    QPushButton* btnIdentify = nullptr;  // asks what is connected, with 送信先 and 入力ポート
    BrokenLabel* lblIdentity = nullptr;  // the replies, or why there are none
    BrokenLabel* lblReason = nullptr;    // why 開始 is disabled, or what the listing lacks
    QDoubleSpinBox* edtIdle = nullptr;
    QLabel* lblCount = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnStop = nullptr;
    QPushButton* btnCancel = nullptr;

    void btnStartClick();
    void btnStopClick();
    void btnIdentifyClick();

    // How long the identify button listens for replies.
    static constexpr int IdentifyWaitMs = 1000;

    // After the dialog was accepted: the finished reception (its input is closed).
    std::unique_ptr<sysex::Reception> TakeReception() { return std::move(reception_); }

    // The count line: "12 メッセージ  4096 バイト".
    static QString CountText(const sysex::Reception::Progress& progress);

    // At most this many bytes of a request are shown; a longer one shows its length as well.
    static constexpr std::size_t ShownRequestBytes = 24;

    // Esc, キャンセル and the close box come here.
    void reject() override;

private:
    void CreateControls(double scale);
    void WireHandlers();
    void Tick();
    void CloseInput();
    // The request as it would be sent now, and why it cannot be, if it cannot.
    sysex::ParsedRequest CurrentRequest() const;
    // Why 開始 cannot start now; empty when it can.
    std::string StartProblem() const;
    void ShowStartState();
    // The named request chosen in 要求, or nullptr.
    const sysex::NamedRequest* ChosenNamedRequest() const;
    void ShowRequestParameters();
    void ShowRequestBytes();
    // The request or a port changed: replies to an earlier question no longer answer this one.
    void ForgetIdentity();
    void FinishIdentify();
    // Fills a port list afresh when the user opens it; a chosen port that has gone is told.
    void Relist(PortSelector* list, const std::function<std::vector<std::string>()>& entries, const char* kind);
    // A loaded message too long to be a request goes only with the user's word.
    bool RequestConfirmed(const sysex::ParsedRequest& request) const;
    // The loaded message chosen in 要求, or -1 for typed hex or a named request.
    int ChosenMessage() const;

    ReceiveSetup setup_;
    QTimer* timer_ = nullptr;
    std::unique_ptr<sysex::Reception> reception_;
    std::unique_ptr<midi::InputPort> input_;
    // While the identify button waits for replies: the input it opened and what came in.
    std::unique_ptr<sysex::ReplyCollector> identifyReplies_;
    std::unique_ptr<midi::InputPort> identifyInput_;
    QTimer* identifyTimer_ = nullptr;
    std::string lostPort_;  // a chosen port that has gone, told until the user chooses again
    bool identityStale_ = false;  // the request or a port changed while identify waited
};

}  // namespace ui
