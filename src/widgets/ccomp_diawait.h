#pragma once

#include <QDialog>
#include <QFuture>
#include <functional>

// Small modal wait indicator: runs one job on the global thread pool and
// accepts itself when the job returns. The job must not touch widgets.
class CComp_DiaWait : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kSize = 64;
    static constexpr int kStartDelayMs = 100;

    CComp_DiaWait(std::function<void()> job, QWidget* parent);
    // Waits for the job, so it never outlives the dialog.
    ~CComp_DiaWait() override;

public slots:
    void finish();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::function<void()> m_job;
    QFuture<void> m_future;
    bool m_finished = false;
};
