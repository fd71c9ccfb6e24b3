// Small helpers shared by the window module's classes.
#pragma once

#include <glib.h>

#include <chrono>
#include <functional>
#include <string>

namespace platform::gtkwin {

std::string Utf8(const std::wstring& text);
std::wstring Wide(const char* utf8);

// Runs the default main context until done() is true or the time is up; true when done.
bool IterateUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// True on the thread that initialised the toolkit.
bool OnWindowThread();
void SetWindowThread();

}  // namespace platform::gtkwin
