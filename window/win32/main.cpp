// rilvano.exe: the form over the Win32 view, and the message loop.
#include <windows.h>

#include "form/frmSerial.h"
#include "window/win32/Win32View.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  rilvano::Win32View view(instance);
  rilvano::frmSerial form(view);
  view.Connect({[&form](rilvano::Control control) { form.Click(control); }, [&form] { form.TMRComm_Timer(); },
                [&form] { form.Form_Unload(); }});
  view.Show(showCommand);
  return view.Run();
}
