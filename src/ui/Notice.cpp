#include "ui/Notice.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include "common/Failure.h"

namespace ui {

namespace {

MessageDisplay* installed = nullptr;

void ShowBox(QMessageBox::Icon icon, const QString& text) {
    // The window that was active comes back once the box has gone.
    QPointer<QWidget> before = QApplication::activeWindow();
    QMessageBox box(icon, QString::fromUtf8(ApplicationTitle), text, QMessageBox::NoButton, before);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    if (before) before->activateWindow();
}

}  // namespace

void SetMessageDisplay(MessageDisplay* display) { installed = display; }

void ShowNotice(const std::string& text) {
    const QString shown = QString::fromStdString(text);
    if (installed) return installed->Notice(shown);
    ShowBox(QMessageBox::NoIcon, shown);
}

bool AskYesNo(const std::string& text) {
    const QString shown = QString::fromStdString(text);
    if (installed) return installed->Question(shown);
    QPointer<QWidget> before = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(ApplicationTitle), shown, QMessageBox::NoButton, before);
    QPushButton* yes = box.addButton(QStringLiteral("はい"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("いいえ"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    if (before) before->activateWindow();
    return box.clickedButton() == yes;
}

UnsavedAnswer AskUnsaved(const std::string& text) {
    const QString shown = QString::fromStdString(text);
    const QStringList buttons{QStringLiteral("保存する"), QStringLiteral("保存しない"), QStringLiteral("キャンセル")};
    int chosen = 2;
    if (installed) {
        chosen = installed->Choice(shown, buttons);
    } else {
        QPointer<QWidget> before = QApplication::activeWindow();
        QMessageBox box(QMessageBox::Warning, QString::fromUtf8(ApplicationTitle), shown, QMessageBox::NoButton,
                        before);
        QPushButton* save = box.addButton(buttons[0], QMessageBox::AcceptRole);
        QPushButton* discard = box.addButton(buttons[1], QMessageBox::DestructiveRole);
        QPushButton* stay = box.addButton(buttons[2], QMessageBox::RejectRole);
        box.setDefaultButton(stay);
        box.setEscapeButton(stay);
        box.setWindowModality(Qt::ApplicationModal);
        box.exec();
        if (before) before->activateWindow();
        chosen = box.clickedButton() == save ? 0 : box.clickedButton() == discard ? 1 : 2;
    }
    return chosen == 0 ? UnsavedAnswer::Save : chosen == 1 ? UnsavedAnswer::Discard : UnsavedAnswer::Stay;
}

void ReportFailure(const std::string& message) {
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
    const QString shown = QString::fromStdString(kelvane::FailureDisplayText(message));
    if (installed) return installed->Failure(shown);
    ShowBox(QMessageBox::Critical, shown);
}

void RunGuarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& failure) {
        ReportFailure(failure.what());
    } catch (...) {
        ReportFailure("予期しないエラーが発生しました");
    }
}

}  // namespace ui
