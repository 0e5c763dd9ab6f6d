#pragma once

// Semaphore 0 of a System V set, guarding one shared frame between this
// program and the companion process. Every take and give is made with
// SEM_UNDO, so a process that dies holding it gives it back.
class CNT_Semaphore
{
public:
    static constexpr int kWaitMs = 200;

    explicit CNT_Semaphore(int key);

    // Makes the set, or opens the one of this key that exists already without
    // touching its value (a reader may hold it); the id, -1 on failure.
    int create_sem(int nsems);
    // Opens an existing set; its id or -1.
    int get_sem();
    // Takes the semaphore, waiting at most kWaitMs; false on time-out or failure.
    bool P_sem();
    void V_sem();
    // Removes the set from the system.
    bool remove();

    int id() const { return m_id; }
    int key() const { return m_key; }

private:
    int m_key;
    int m_id = -1;
};
