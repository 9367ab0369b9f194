// rilvano.exe: the form over the Win32 view, and the message loop.
#include <windows.h>

#include "window/win32/program.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  return rilvano::RunProgram(rilvano::Win32ViewOptions{instance}, showCommand);
}
