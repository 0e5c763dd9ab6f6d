#pragma once

#include "ccomp_dialogframe.h"

#include <QMap>
#include <QString>
#include <functional>

class Edit;
class EditIP;
class QCheckBox;
class QLabel;
class QProcess;
class QPushButton;
class QTimer;
class TextShowWidget;

// The network settings screen: one row per network card with live state and
// rate, the companion link's state, the API / networking / video switches,
// device name and server address with an apply button, and a ping tool.
class NetworkSettingDialog : public CComp_DialogFrame
{
    Q_OBJECT
public:
    // The service settings kept in "cnt_net/config.json".
    struct stuconfig
    {
        QString devicename;
        QString serveraddr;
        QString serverport = QStringLiteral("10432");
        bool device_workapifunc = false;
        bool device_worknetfunc = false;
        bool device_workvideo = false;
        QString videoapp_dir = QStringLiteral("/root/bin-ZEV/cnt_net/");
        QString workspace = QStringLiteral("/root/bin-ZEV/cnt_net/workspace/");
    };

    // The companion link's state code (1 connected, -1 to -4 the failures);
    // wired by the application, "not started" until then.
    using LinkStateSource = std::function<int()>;
    static void setLinkStateSource(LinkStateSource source);

    explicit NetworkSettingDialog(QWidget* parent);
    ~NetworkSettingDialog() override;

    bool ininconfig();
    stuconfig config() const { return m_config; }
    QWidget* cardRow(const QString& name) const { return m_cardRows.value(name); }
    TextShowWidget* pingPanel() const { return m_pingPanel; }
    // False with the reason when the file could not be written (the services restart anyway).
    bool lastApplyOk(QString* error = nullptr) const;

public slots:
    void slotTimeout_ChKState();
    void slotTimeout_ZELState();
    void slotUpdateAll();
    void slotUpdateZEL();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showLinkState();
    void startPing();
    void readPing();
    void stopPing();

    QMap<QString, QWidget*> m_cardRows;
    QTimer* m_cardTimer;
    QTimer* m_linkTimer;
    QTimer* m_pingTimer;
    QCheckBox* m_netBox;
    QCheckBox* m_apiBox;
    QCheckBox* m_videoBox;
    Edit* m_deviceName;
    EditIP* m_server;
    QLabel* m_linkState;
    TextShowWidget* m_pingPanel;
    QProcess* m_ping = nullptr;
    Edit* m_pingTarget;
    QPushButton* m_pingButton;
    stuconfig m_config;
    QString m_applyError;
};
