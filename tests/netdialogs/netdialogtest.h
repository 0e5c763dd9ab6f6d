#pragma once

#include "tempappdir.h"

#include <QString>
#include <functional>
#include <gtest/gtest.h>

class QWidget;

class NetworkSettingDialog;

// A dialog test in its own application folder, with the screen size and
// language it sets restored afterwards and the settings dialog removed.
class NetDialogTest : public AppDirTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Closes and deletes gpNetDialog.
    static void dropNetDialog();

private:
    int m_showW = 0;
    int m_showH = 0;
    int m_lan = 0;
};

// Runs a program while this thread keeps serving events; its output, or empty on failure.
QByteArray runServing(const QString& program, const QStringList& args, int timeoutMs = 20000);

// The card editor and the download dialog's boxes are child widgets of their
// dialog running their own event loop, so no modal widget is active: this
// polls for a visible child of the class below host and hands it to the action,
// until the action returns true (it handled the child).
void answerChild(QWidget* host, const char* className, std::function<bool(QWidget*)> action, int timeoutMs = 5000);
