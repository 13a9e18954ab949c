#include "ui/LoadProgress.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <exception>
#include <new>
#include <thread>

#include "common/Failure.h"
#include "sysex/DumpFile.h"
#include "ui/Scaling.h"

namespace ui {

namespace {

// Often enough that the counts look live and a finished load shows at once; each look reads a
// few atomics.
constexpr int PollMs = 20;

std::atomic<int> threadsRunning{0};
bool loadUnderWay = false;  // GUI thread

// Shared by the loading thread and the window's thread. The loading thread writes the outcome
// before `done`; the window's thread reads it only after seeing `done`. A stopped load's thread
// may outlive the window's interest in it: it owns what it writes through this.
struct LoadJob {
    std::string path;
    sysex::LoadWatch watch;
    std::optional<FinishedLoad> finished;
    std::string failure;  // why the load failed; empty when it did not
    bool stopped = false;
    std::atomic<bool> done{false};

    bool Done() const { return done.load(std::memory_order_acquire); }
};

// The loading thread. Nothing leaves it as an exception: a thread has nobody to catch it.
void RunLoad(const std::shared_ptr<LoadJob>& job) {
    try {
        auto messages = std::make_unique_for_overwrite<sysex::OwnStore>();
        const sysex::ScanResult result = sysex::LoadDump(job->path, messages->writer, job->watch);
        job->finished = FinishedLoad{result, std::move(messages)};
    } catch (const sysex::LoadStopped&) {
        job->stopped = true;
    } catch (const std::bad_alloc&) {
        job->failure = kelvane::FormatText("メモリーが足りないため、ファイル %s を読み込めません", job->path);
    } catch (const std::exception& failure) {
        job->failure = failure.what();
    } catch (...) {
        job->failure = sysex::CannotOpenText(job->path);
    }
    job->done.store(true, std::memory_order_release);
    threadsRunning.fetch_sub(1, std::memory_order_acq_rel);
}

// The window's thread waits in an event loop (which paints, and takes user input unless `flags`
// hold it back) until `until` says so or `atMostMs` have passed.
void Wait(const std::function<bool()>& until, QEventLoop::ProcessEventsFlags flags, int atMostMs) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (until()) loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(PollMs);
    limit.start(atMostMs);
    if (!until()) loop.exec(flags);
}

}  // namespace

int LoadThreadsRunning() { return threadsRunning.load(std::memory_order_acquire); }

std::optional<FinishedLoad> LoadWithProgress(QWidget* window, double scale, const std::string& pathUtf8,
                                             const AfterLoadRead& afterRead) {
    // A drop or a queued command-line file may come while the loop below runs.
    if (loadUnderWay) return std::nullopt;
    loadUnderWay = true;
    struct UnderWay {
        ~UnderWay() { loadUnderWay = false; }
    } underWay;

    auto job = std::make_shared<LoadJob>();
    job->path = pathUtf8;
    job->watch.afterRead = afterRead;
    threadsRunning.fetch_add(1, std::memory_order_acq_rel);
    try {
        std::thread([job] { RunLoad(job); }).detach();
    } catch (...) {
        threadsRunning.fetch_sub(1, std::memory_order_acq_rel);
        throw;
    }

    // A short load needs no box: input waits meanwhile (and is handled after it), paint does not.
    Wait([&job] { return job->Done(); }, QEventLoop::ExcludeUserInputEvents, ShowAfterMs);
    if (!job->Done()) {
        TLoadProgress box(window, scale, pathUtf8);
        QTimer poll(&box);
        const auto show = [&box, &job] {
            const std::uint64_t bytesRead = job->watch.bytesRead.load(std::memory_order_acquire);
            box.ShowProgress(bytesRead, job->watch.fileBytes.load(std::memory_order_relaxed),
                     job->watch.messages.load(std::memory_order_relaxed));
        };
        QObject::connect(&poll, &QTimer::timeout, &box, [&box, &job, show] {
            show();
            if (job->Done()) box.accept();
        });
        poll.start(PollMs);
        show();
        if (box.exec() != QDialog::Accepted) {
            // The user's word counts even if the load has just finished: nothing changes.
            job->watch.stop.store(true, std::memory_order_relaxed);
            return std::nullopt;
        }
    }
    if (job->stopped) return std::nullopt;
    if (!job->failure.empty()) throw kelvane::Failure(job->failure);
    return std::move(job->finished);
}

TLoadProgress::TLoadProgress(QWidget* owner, double scale, const std::string& pathUtf8) : QDialog(owner) {
    setWindowTitle(QStringLiteral("読み込み中"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    QGridLayout* grid = DialogGrid(this, scale);
    const QString name = QFileInfo(QString::fromStdString(pathUtf8)).fileName();
    grid->addWidget(new QLabel(QStringLiteral("%1 を読み込んでいます").arg(name), this), 0, 0);
    barProgress = new QProgressBar(this);
    barProgress->setRange(0, 1000);
    barProgress->setTextVisible(false);
    barProgress->setMinimumWidth(Scaled(300, scale));
    grid->addWidget(barProgress, 1, 0);
    lblProgress = new QLabel(this);
    grid->addWidget(lblProgress, 2, 0);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    btnStop = new QPushButton(QStringLiteral("中止"), this);
    // Only Esc, a click or the close box stop a load: an Enter meant for the window before the
    // box came up must not.
    btnStop->setAutoDefault(false);
    btnStop->setToolTip(QStringLiteral("読み込みをやめ、今のデータをそのまま残します (Esc)"));
    buttons->addWidget(btnStop);
    grid->addLayout(buttons, 3, 0);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    connect(btnStop, &QPushButton::clicked, this, &QDialog::reject);
}

QString TLoadProgress::ProgressText(std::uint64_t bytesRead, std::uint64_t fileBytes, std::int32_t messages) {
    // Numbers of nine digits and more read only with their thousands marked.
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    return japanese.toString(static_cast<qulonglong>(bytesRead)) + QStringLiteral(" / ") +
           japanese.toString(static_cast<qulonglong>(fileBytes)) + QStringLiteral(" バイト  ") + japanese.toString(messages) +
           QStringLiteral(" メッセージ");
}

void TLoadProgress::ShowProgress(std::uint64_t bytesRead, std::uint64_t fileBytes, std::int32_t messages) {
    lblProgress->setText(ProgressText(bytesRead, fileBytes, messages));
    barProgress->setValue(fileBytes == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(bytesRead, fileBytes) * 1000 / fileBytes));
}

}  // namespace ui
