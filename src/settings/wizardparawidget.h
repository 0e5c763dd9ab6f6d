#pragma once

#include <QVector>
#include <QWidget>

#include <functional>
#include <memory>

class CammerWidget;
class ChooseCaliNumWidget;
#include "colorbutton.h"

class ComboBox;
class Edit;
class FuzzyComboBox;
class MainWindowBase;
class ModifyTimeWidget;
class QStackedWidget;
class WidgetChangeCamera;
class WizardPara;

// The settings screen: every stored field of the settings record on pages,
// built from one field table, edited in gpWParaBak and copied over gpWPara
// when the operator confirms. Camera image settings reach the camera shown
// at once. Also the parameter groups and the system actions (clock,
// language, export, restart, exit, camera order, network).
class WizardParaWidget : public QWidget
{
    Q_OBJECT
public:
    // Screens that other parts of the program provide; the defaults show a notice.
    using ScreenHook = std::function<void(QWidget* parent)>;
    // Export of the chosen paths (relative to the program's folder); false with the reason when it fails.
    using ExportHook = std::function<bool(const QStringList& items, QString* error)>;
    static void setNetworkHook(ScreenHook hook);
    static void setImageStorageHook(ScreenHook hook);
    static void setVersionDownloadHook(ScreenHook hook);
    static void setExportHook(ExportHook hook);
    // Told after a confirmed save, with the record as it was, for the services
    // of other parts that follow the settings (the USB image copy).
    using AcceptedHook = std::function<void(const WizardPara& before)>;
    static void setAcceptedHook(AcceptedHook hook);

    explicit WizardParaWidget(MainWindowBase* window, QWidget* parent = nullptr);
    ~WizardParaWidget() override;

    void setCameraUnits(const QVector<CammerWidget*>& units) { m_units = units; }
    // The camera whose settings are shown.
    int shownCamera = 0;
    // The calibration point count chosen last (4, 9 or 25).
    int caliNum = 4;

    // Shows the screen over the main window with gpWParaBak loaded.
    void open();
    // Sets every control from gpWParaBak.
    void WizardParaInit();
    // Bounds the camera edit boxes by the ranges the camera shown reports.
    void setCamerParamRange();

    // The controls, for the table index of a field (null when not built).
    QWidget* fieldControl(int field) const;
    QStackedWidget* pages() const { return m_pages; }
    const QVector<ColorButton*>& pageButtons() const { return m_pageButtons; }
    ComboBox* cameraChoice() const { return m_cameraChoice; }
    FuzzyComboBox* groupChoice() const { return m_groupChoice; }
    Edit* groupSearch() const { return m_groupSearch; }
    Edit* groupNameEdit() const { return m_groupName; }
    Edit* passwordEdit() const { return m_password; }
    ComboBox* languageChoice() const { return m_language; }
    ModifyTimeWidget* timeWidget() const { return m_timeWidget.get(); }
    ChooseCaliNumWidget* caliNumWidget() const { return m_caliWidget.get(); }
    WidgetChangeCamera* cameraOrderScreen() const { return m_cameraOrder; }
    ColorButton* button(const QString& objectName) const { return findChild<ColorButton*>(objectName); }

public slots:
    void SetExposeTime(int value);
    void SetAdjust(int value);
    void SetSharp(int value);
    void SetContrast(int value);
    void SetGamma(int value);
    void SetSaturation(int value);
    void Set3DNoise(int value);
    // Pushes the edited 2D noise value of the camera shown.
    void set2DNoise();
    void SetAutoWDR(int value);
    // Flip the mirror of the camera shown.
    void SetHMirror();
    void SetVMirror();

    // Confirm: asks, then saves and applies; a refusal restores everything.
    void accept();
    // Leaves without saving: gpWParaBak and the cameras return to the live values.
    void reject();

    void SlotChangePage(int page);
    void SlotChangeCamera(int camera);
    void SlotOnceWB();
    void SlotRestoreDefaultSettings();
    void SlotParaGroupBackup();
    void SlotParaGroupRestore();
    void SlotParaGroupDelete();
    void SlotModifyTime();
    void SlotChangeLan(int language);
    void SlotExportData();
    void SlotShutDown();
    void SlotExit();
    void SlotCameraOrder();
    void SlotToNetwork();
    void SlotVersionDownload();
    void SlotImageStorage();
    void SlotCaliNum();

private:
    struct FieldControl;

    void buildPages();
    QWidget* buildFieldPage(int page);
    QWidget* buildGroupPage();
    QWidget* buildSystemPage();
    ColorButton* addButton(QWidget* parent, int row, const char* name, void (WizardParaWidget::*slot)());
    CammerWidget* shownUnit() const;
    // A control changed: store its value and, for a camera setting, send it.
    void fieldEdited(int field, int shownValue);
    void updateVisibility();
    void refreshGroups();
    // The group index follows the current group's name after a group action.
    void followCurrentGroup(const QString& name);
    // The typed password, when one was typed: digits only.
    bool takePassword(QString* reason);
    // Restarts the box (after the parameters are stored).
    void restartBox(bool saveFirst);
    void leave();

    MainWindowBase* m_win;
    QVector<CammerWidget*> m_units;
    std::vector<FieldControl> m_controls;
    QStackedWidget* m_pages = nullptr;
    QVector<ColorButton*> m_pageButtons;
    ComboBox* m_cameraChoice = nullptr;
    FuzzyComboBox* m_groupChoice = nullptr;
    Edit* m_groupSearch = nullptr;
    Edit* m_groupName = nullptr;
    Edit* m_password = nullptr;
    ComboBox* m_language = nullptr;
    std::unique_ptr<ChooseCaliNumWidget> m_caliWidget;
    std::unique_ptr<ModifyTimeWidget> m_timeWidget;
    WidgetChangeCamera* m_cameraOrder = nullptr;
};
