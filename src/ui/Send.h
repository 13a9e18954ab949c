#pragma once
// The send dialog: puts a loaded bank back into a device. It sends all stored messages or a
// range of them on the port open in the main window (whether or not "MIDI OUT" is ticked: the
// user asked for this send), with a pause after each message and at a share of the MIDI cable's
// rate or as fast as the port takes (midi/Pace.h has what is offered), and shows messages, bytes and the time left as it goes. Modal over the main window.
//
// The transmission engine (midi/Transmission.h) runs on a thread of its own; the dialog only
// polls its progress with a timer, so the window never waits on the device. Closing the dialog
// while sending asks first, then stops the send and closes once the engine has ended (within
// about half a second). GUI thread only.

#include <QDialog>
#include <QString>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "midi/Transmission.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimer;

namespace ui {

// What the dialog needs from its window.
struct SendSetup {
    midi::OutputPort* port = nullptr;  // the open port; none when no port is open
    std::string portName;              // its entry in the main window's selector
    std::vector<std::size_t> messageSizes;  // of each stored message, F0 through F7
    int selectedMessage = -1;               // from 0; -1 when no line is selected
    std::function<std::vector<std::uint8_t>(int message)> message;  // F0 through F7
    midi::Pace pace;                                                // remembered
    std::function<void(const midi::Pace&)> paceChosen;              // remember it
    // After a failed send: whether the port has gone from the list (it is then closed, and the
    // dialog no longer uses it).
    std::function<bool()> portGone;
    // Asks whether to stop a send under way; a message box unless a test says otherwise.
    std::function<bool()> confirmStop;
};

class TSend : public QDialog {
public:
    TSend(QWidget* owner, double scale, SendSetup setup);
    ~TSend() override;

    // Components.
    QLabel* lblPort = nullptr;
    QRadioButton* rbAll = nullptr;
    QRadioButton* rbRange = nullptr;
    QSpinBox* edtFrom = nullptr;
    QSpinBox* edtTo = nullptr;
    QSpinBox* edtPause = nullptr;
    QComboBox* cmbSpeed = nullptr;
    QCheckBox* chkDeviceId = nullptr;  // off: the messages go as loaded
    QSpinBox* edtDeviceId = nullptr;   // the device number they get (hexadecimal)
    QProgressBar* barProgress = nullptr;
    QLabel* lblProgress = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnStop = nullptr;
    QPushButton* btnClose = nullptr;

    void btnStartClick();
    void btnStopClick();

    bool Sending() const { return engine_.valid(); }
    // The outcome of the last send that has ended; none before.
    const midi::TransmissionOutcome* LastOutcome() const { return finished_ ? &outcome_ : nullptr; }

    // "12/40 メッセージ  8192/20480 バイト  残り 0:07".
    static QString ProgressText(const midi::TransmissionProgress& progress);

    void reject() override;

private:
    void CreateControls(double scale);
    void WireHandlers();
    void SetIdle(bool idle);
    void ShowPlan();
    std::pair<int, int> ChosenRange() const;
    void Tick();
    void Finish();
    midi::Pace ChosenPace() const;
    int MessageCount() const { return static_cast<int>(setup_.messageSizes.size()); }

    SendSetup setup_;
    QTimer* timer_ = nullptr;
    std::unique_ptr<midi::Transmission> transmission_;
    std::future<midi::TransmissionOutcome> engine_;  // valid while a send runs
    midi::TransmissionOutcome outcome_;
    int firstSent_ = 0;  // the stored message sent first (from 0)
    bool finished_ = false;
    bool closeWhenDone_ = false;
};

}  // namespace ui
