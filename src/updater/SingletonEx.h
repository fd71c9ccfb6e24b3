// Marks T as a process-wide single instance held in one static pointer: created on first use,
// deleted by the exit step.
#pragma once

namespace UpDater {

template <class T>
class CSingletonEx {
public:
    static T* GetInstance() {
        if (s_pInstance == nullptr) s_pInstance = new T();
        return s_pInstance;
    }
    static T* PeekInstance() { return s_pInstance; }
    static bool Exists() { return s_pInstance != nullptr; }
    // Forgets the instance without deleting it: for an instance something still uses.
    static T* DetachInstance() {
        T* p = s_pInstance;
        s_pInstance = nullptr;
        return p;
    }
    static void ReleaseInstance() {
        delete s_pInstance;
        s_pInstance = nullptr;
    }

protected:
    CSingletonEx() = default;
    virtual ~CSingletonEx() = default;

private:
    static inline T* s_pInstance = nullptr;
};

}  // namespace UpDater
