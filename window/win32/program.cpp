#include "window/win32/program.h"

#include <exception>
#include <optional>

#include "form/failure.h"
#include "form/frmSerial.h"

namespace rilvano {

int RunProgram(const Win32ViewOptions& options, int showCommand) {
  std::optional<Win32View> view;
  std::optional<frmSerial> form;
  std::exception_ptr failure;
  try {
    view.emplace(options);
    form.emplace(*view);
    view->Connect({[&form](Control control) { form->Click(control); }, [&form] { form->TMRComm_Timer(); },
                   [&form] { form->Form_Unload(); }});
    view->Show(showCommand);
    return view->Run();
  } catch (...) {
    failure = std::current_exception();
  }
  // A quit already posted (the window was being destroyed) would end the
  // box's own loop before the operator saw it.
  MSG quit;
  PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  return EndAfterFailure(failure, form ? &*form : nullptr, [&view](const BoxMessage& box) {
    if (view && view->Window() != nullptr) {
      view->ShowBox(box);
    } else {
      Win32View::ShowBoxOver(nullptr, box);
    }
  });
}

}  // namespace rilvano
