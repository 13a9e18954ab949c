#pragma once
// The receive dialog: pick an input port, optionally send a request first, watch the count of
// messages and bytes grow, and stop by hand ("停止") or after an idle time. Modal over the main
// window. The input's bytes are collected on the input's own thread into a sysex::Reception;
// the dialog only polls its progress with a timer, so it never waits on the input. The store is
// not touched here: the window moves the finished reception into it. GUI thread only.

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "midi/InputService.h"
#include "sysex/Reception.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QTimer;

namespace ui {

class PortSelector;

// What the dialog needs from its window.
struct ReceiveSetup {
    std::vector<std::string> inputEntries;  // "(None)" first
    int rememberedEntry = 0;                // selected at first when it is an entry
    std::vector<std::string> requestLines;  // the list lines of the loaded messages
    std::function<void(int entry)> inputChosen;    // the user picked an input entry
    std::function<void(int message)> sendRequest;  // send stored message `message` now
};

class TReceive : public QDialog {
public:
    TReceive(QWidget* owner, double scale, ReceiveSetup setup);
    ~TReceive() override;

    // Components.
    PortSelector* cmbInput = nullptr;
    QCheckBox* chkRequest = nullptr;
    QComboBox* cmbRequest = nullptr;
    QDoubleSpinBox* edtIdle = nullptr;
    QLabel* lblCount = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnStop = nullptr;
    QPushButton* btnCancel = nullptr;

    void btnStartClick();
    void btnStopClick();

    // After the dialog was accepted: the finished reception (its input is closed), and why the
    // input lost bytes, if it did (empty otherwise).
    std::unique_ptr<sysex::Reception> TakeReception() { return std::move(reception_); }
    const std::string& InputError() const { return inputError_; }

    // The count line: "12 メッセージ  4096 バイト".
    static QString CountText(const sysex::Reception::Progress& progress);

    void reject() override;

private:
    void CreateControls(double scale);
    void WireHandlers();
    void Tick();
    void CloseInput();

    ReceiveSetup setup_;
    QTimer* timer_ = nullptr;
    std::unique_ptr<sysex::Reception> reception_;
    std::unique_ptr<midi::InputPort> input_;
    std::string inputError_;
};

}  // namespace ui
