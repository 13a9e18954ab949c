#include "ui/HexEditDialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "sysex/Checksum.h"
#include "sysex/HexText.h"
#include "ui/Scaling.h"

namespace ui {

THexEdit::THexEdit(QWidget* owner, double scale, int number, sysex::MessageBytes message)
    : QDialog(owner), bytes_(message.begin(), message.end()) {
    const std::string listed = sysex::ListNumbersText({static_cast<std::size_t>(number - 1)});
    setWindowTitle(QString::fromStdString("メッセージ " + listed + " を 16 進で編集"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    QGridLayout* grid = DialogGrid(this, scale);
    edtHex = new QPlainTextEdit(this);
    edtHex->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    edtHex->setLineWrapMode(QPlainTextEdit::NoWrap);
    edtHex->setTabChangesFocus(true);
    // Sixteen bytes a line, as kelvane-cli hex prints them.
    edtHex->setPlainText(QString::fromStdString(sysex::HexText(message, 16)));
    edtHex->setMinimumSize(Scaled(400, scale), Scaled(200, scale));
    grid->addWidget(edtHex, 0, 0, 1, 2);
    lblVerdict = new QLabel(this);
    lblVerdict->setWordWrap(true);
    grid->addWidget(lblVerdict, 1, 0);
    btnChecksum = new QPushButton(QStringLiteral("チェックサムを再計算(&C)"), this);
    btnChecksum->setAutoDefault(false);
    grid->addWidget(btnChecksum, 1, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    btnOk = buttons->button(QDialogButtonBox::Ok);
    grid->addWidget(buttons, 2, 0, 1, 2);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(edtHex, &QPlainTextEdit::textChanged, this, [this] { Recheck(); });
    connect(btnChecksum, &QPushButton::clicked, this, [this] { RecomputeChecksum(); });
    Recheck();
}

void THexEdit::Recheck() {
    const sysex::EditedMessage edited = sysex::OneMessageFromText(edtHex->toPlainText().toStdString());
    btnOk->setEnabled(edited.problem.empty());
    if (!edited.problem.empty()) {
        lblVerdict->setText(QString::fromStdString(edited.problem));
        btnChecksum->setEnabled(false);
        return;
    }
    bytes_ = edited.bytes;
    const sysex::ChecksumVerdict verdict = sysex::CheckChecksum(bytes_.data(), bytes_.size());
    lblVerdict->setText(QString::fromStdString(sysex::ChecksumVerdictText(verdict)));
    btnChecksum->setEnabled(verdict.state == sysex::ChecksumState::Wrong);
}

void THexEdit::RecomputeChecksum() {
    std::vector<std::uint8_t> fixed = bytes_;
    if (!sysex::FixChecksum(fixed.data(), fixed.size())) return;
    edtHex->setPlainText(QString::fromStdString(sysex::HexText(fixed, 16)));
}

}  // namespace ui
