#pragma once

#include <QDialog>
#include <QStringList>
#include <QVector>

class ColorButton;
class QAbstractButton;
class QButtonGroup;
class VersionRepository;

// Browses the update server: one column per product line with its packages
// as buttons, seven per page; a press asks, backs up the installed program
// and downloads the package for installation at the next boot.
class VersionDownloadDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kPerPage = 7;

    // Fetches the listing (server from the configuration) and builds the dialog.
    explicit VersionDownloadDialog(QWidget* parent);
    // The same over a given repository (tests, other servers); the dialog takes it.
    VersionDownloadDialog(VersionRepository* repository, QWidget* parent);
    ~VersionDownloadDialog() override;

    bool isOnline() const;
    VersionRepository* repository() const { return m_repository; }
    int currentPage(int column) const { return m_curPage.value(column); }
    int pageCount(int column) const { return m_pageCount.value(column); }
    QVector<QString> columnTitles() const { return m_titles; }
    // The buttons of a column's page (at most seven), top down.
    QList<QAbstractButton*> packageButtons(int column) const;
    // Every package of a column, in listing order.
    QStringList packageNames(int column) const;

    using QDialog::show;
    void show(int column);
    void vhide(int column);
    void setEnable(bool enable);
    bool downloadPackage(const QString& name);

public slots:
    void slotToLastPage(int column);
    void slotToNextPage(int column);
    void acceptDialog();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void build();
    void onPackagePressed(QAbstractButton* button);

    VersionRepository* m_repository;
    QVector<QButtonGroup*> m_groups;
    QVector<QString> m_titles;
    QVector<QStringList> m_names;
    QVector<int> m_curPage;
    QVector<int> m_pageCount;
    QButtonGroup* m_lastGroup;
    QButtonGroup* m_nextGroup;
    ColorButton* m_exit = nullptr;
};
