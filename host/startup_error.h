// The trilingual start-up failure dialog and its detail texts.
#ifndef KESTRO_HOST_STARTUP_ERROR_H_
#define KESTRO_HOST_STARTUP_ERROR_H_

namespace kestro {

// Caption of every dialog and title of the application window.
inline constexpr wchar_t kWindowTitle[] = L"Kestro POS";

inline constexpr wchar_t kAlreadyRunningDetail[] =
    L"Kestro POS is already running.\nKestro POS вже запущено.";
inline constexpr wchar_t kWindowCreationDetail[] =
    L"Could not create the application window.\nНе вдалося створити вікно програми.";
inline constexpr wchar_t kNativeCrashDetail[] =
    L"A native crash occurred while starting the app.\n"
    L"Сталася помилка під час запуску програми.";

// Shows the failure heading followed by `detail` in a topmost error box and waits for OK.
void ShowStartupError(const wchar_t* detail);

}  // namespace kestro

#endif  // KESTRO_HOST_STARTUP_ERROR_H_
