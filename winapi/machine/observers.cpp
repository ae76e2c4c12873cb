// The observation hook of each DLL.
#include "observers.h"

namespace kqwin {

ObservationHook<Kernel32Observer>& Kernel32Hook() {
    static ObservationHook<Kernel32Observer> hook;
    return hook;
}

ObservationHook<User32Observer>& User32Hook() {
    static ObservationHook<User32Observer> hook;
    return hook;
}

ObservationHook<Shell32Observer>& Shell32Hook() {
    static ObservationHook<Shell32Observer> hook;
    return hook;
}

ObservationHook<WinspoolObserver>& WinspoolHook() {
    static ObservationHook<WinspoolObserver> hook;
    return hook;
}

ObservationHook<LocalsplObserver>& LocalsplHook() {
    static ObservationHook<LocalsplObserver> hook;
    return hook;
}

} // namespace kqwin
