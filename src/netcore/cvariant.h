#pragma once

#include <QList>
#include <QMutex>
#include <QMutexLocker>

// Holds at most one value behind a mutex of its own; copies never share the mutex.
template <typename T>
class CVariant
{
public:
    CVariant() = default;
    CVariant(const CVariant& other) : list_(other.snapshot()) {}
    // The source is copied under its own lock before the destination is locked,
    // so self-assignment and crossed assignments cannot deadlock.
    CVariant& operator=(const CVariant& other)
    {
        if (this != &other) {
            QList<T> copy = other.snapshot();
            QMutexLocker lock(&mutex_);
            list_ = copy;
        }
        return *this;
    }

    void setValue(const T& value)
    {
        QMutexLocker lock(&mutex_);
        list_.clear();
        list_.append(value);
    }
    // A copy of the held value; a default value when empty (needs a default constructor).
    T getValue() const
    {
        QMutexLocker lock(&mutex_);
        return list_.isEmpty() ? T() : list_.first();
    }
    // Copies the held value into out; false when empty.
    bool tryGetValue(T& out) const
    {
        QMutexLocker lock(&mutex_);
        if (list_.isEmpty())
            return false;
        out = list_.first();
        return true;
    }
    // Changes the held value in place under the lock; false when empty.
    template <typename F>
    bool update(F&& change)
    {
        QMutexLocker lock(&mutex_);
        if (list_.isEmpty())
            return false;
        change(list_.first());
        return true;
    }
    bool isEmpty() const
    {
        QMutexLocker lock(&mutex_);
        return list_.isEmpty();
    }
    void clear()
    {
        QMutexLocker lock(&mutex_);
        list_.clear();
    }

private:
    QList<T> snapshot() const
    {
        QMutexLocker lock(&mutex_);
        return list_;
    }

    mutable QMutex mutex_;
    QList<T> list_;
};
