#pragma once

#include <QString>
#include <QStringList>

// Parameter groups on disk: each group is a folder under "./paraGroup" that
// holds a copy of the working parameters (the parameter database and the
// template folders). Groups are numbered by their position in the sorted
// list, so a position is only meaningful until the next group action.
class ParaGroupStore
{
public:
    static constexpr const char* kFolder = "./paraGroup";

    // Group names in the order that numbers them (case-sensitive ascending).
    static QStringList groups();
    // Position of a group in groups(); -1 when there is none of that name.
    static int indexOf(const QString& name);
    // A plain folder name: not empty, no path separator, not "." or "..".
    static bool isValidName(const QString& name);

    // Copies the working parameters into the group (replacing its files).
    static bool backup(const QString& name, QString* error);
    // Copies the group's files over the working parameters.
    static bool restore(const QString& name, QString* error);
    static bool remove(const QString& name, QString* error);

private:
    // The working files and folders a group holds, relative to the working directory.
    static QStringList workingItems(const QString& dir);
    static bool copyItem(const QString& from, const QString& to, QString* error);
};
