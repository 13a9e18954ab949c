#pragma once
// Editing one message's bytes as hexadecimal text. The dialog takes back only text that is
// exactly one message (sysex/HexText.h); while it is not, OK stays unavailable and the reason
// shows under the text. Where the message has a checksum of a known form (sysex/Checksum.h),
// its verdict shows there too, and a wrong one can be recomputed with one button. Modal over the
// main window; GUI thread only.

#include <QDialog>
#include <cstdint>
#include <vector>

#include "sysex/Store.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace ui {

class THexEdit : public QDialog {
public:
    // `number` is the message's number in the list (from 1), for the title.
    THexEdit(QWidget* owner, double scale, int number, sysex::MessageBytes message);

    // The bytes of the text, once the dialog has been accepted.
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

    QPlainTextEdit* edtHex = nullptr;
    QLabel* lblVerdict = nullptr;
    QPushButton* btnChecksum = nullptr;
    QPushButton* btnOk = nullptr;

    // Longer messages are not offered here: their text would be more than an editor keeps
    // responsive.
    static constexpr std::size_t MaxBytes = std::size_t{1} << 20;

private:
    void Recheck();
    void RecomputeChecksum();

    std::vector<std::uint8_t> bytes_;
};

}  // namespace ui
