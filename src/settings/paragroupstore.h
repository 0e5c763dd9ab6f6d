#pragma once

#include <QString>
#include <QStringList>
#include <functional>

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
    // Puts the group's files in place of the working ones (and the group's index in
    // "sysadd.txt"): copied beside the working set first, then switched by renames
    // listed in a journal, so that a stop at any moment leaves a set that the next
    // start finishes (journal written) or drops (not yet).
    static bool restore(const QString& name, QString* error);
    static bool remove(const QString& name, QString* error);

    // What the start found of a restore that did not end.
    enum class Recovery { None, RolledBack, Finished };
    // Run at start, before anything opens the working files; the group's name in group.
    static Recovery recoverRestore(QString* group = nullptr);

    // Called before each step of a restore that changes a file; returning false stops
    // the restore right there, as a killed program would.
    using StepHook = std::function<bool(int step)>;
    static void setStepHook(StepHook hook);

private:
    // Finishes the switch a journal lists; safe to run again after a stop at any point.
    static bool finishSwitch(const QString& group, const QStringList& items, QString* error);
    // The working files and folders a group holds, relative to the working directory.
    static QStringList workingItems(const QString& dir);
    static bool copyItem(const QString& from, const QString& to, QString* error);
};
