#include "ui/win32/win32_front_end.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "app/front_end_common.h"
#include "app/main_form.h"
#include "ui/win32/win32_text.h"
#include "ui/win32/win32_ui_port.h"

namespace win32ui {

namespace {

std::string EnvText(const char* name) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::string(text) : std::string();
}

// Lets pending window messages run for `ms` milliseconds, so a page is drawn before its picture.
void Settle(Win32UiPort& ui, DWORD ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    ui.ProcessMessages();
    Sleep(10);
  }
}

// The client area of a window as the screen shows it, saved as a 24-bit BMP file.
bool SaveClientPicture(HWND window, const std::string& path) {
  RECT client;
  GetClientRect(window, &client);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  const int width = client.right;
  const int height = client.bottom;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up rows, as BMP files store them
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (bitmap != nullptr && bits != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    SelectObject(memory, old);
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + imageSize;
    info.bmiHeader.biSizeImage = imageSize;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(imageSize));
    ok = static_cast<bool>(out);
  }
  if (bitmap != nullptr) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace

FrontEnd::FrontEnd(TMainfrm& main, Win32UiPort& dialogs) : mainForm_(main), dialogs_(dialogs) {
  main_ = std::make_unique<FormRenderer>(main.Form(),
                                         [&main](const std::string& handler) { main.Invoke(handler); });
  dialogs_.SetMainWindow(main_->Window());
  dialogs_.SetUnattended(main.Unattended());
  const std::vector<FormModel*> forms = main.Forms();
  for (std::size_t i = 1; i < forms.size(); ++i) AddWaitRenderer(*forms[i]);
  main.OnNewWaitfrm([this](FormModel& form) { AddWaitRenderer(form); });
  // Closing the main window ends the message loop; the window's end handler runs after it
  // (Finish), once any operation still running has returned.
  main_->OnClosed([this] {
    if (closing_) return;
    closing_ = true;
    ::ShowWindow(main_->Window(), SW_HIDE);
    PostQuitMessage(0);
  });
}

FrontEnd::~FrontEnd() {
  waits_.clear();
  main_.reset();
}

void FrontEnd::AddWaitRenderer(FormModel& form) {
  TMainfrm* main = &mainForm_;
  waits_.push_back(std::make_unique<FormRenderer>(
      form, [main](const std::string& handler) { main->Invoke(handler); }, main_->Window()));
}

void FrontEnd::Start() {
  // An exception inside FormCreate is shown by Invoke; the window is shown all the same.
  mainForm_.Invoke("FormCreate");
  main_->LayOut();
  main_->ShowWindow();
  const std::string shots = EnvText("VELMORA_SCREENSHOT_DIR");
  if (!shots.empty()) {
    // VELMORA_SCREENSHOT_RUN names handlers (separated by commas) to run first.
    for (const std::string& handler : HandlerList(EnvText("VELMORA_SCREENSHOT_RUN"))) mainForm_.Invoke(handler);
    const bool saved = SaveScreenshots(shots);
    closing_ = true;
    PostQuitMessage(saved ? 0 : 1);
    return;
  }
  // Without a window manager the window may never be activated: run the activation handler
  // once anyway, unless a real activation came first.
  if (main_->Activations() == 0) main_->Activate();
}

int FrontEnd::Run() {
  MSG message;
  int code = 0;
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      code = static_cast<int>(message.wParam);
      break;
    }
    if (got == -1) {
      code = 1;
      break;
    }
    if (main_->Window() != nullptr && IsDialogMessageW(main_->Window(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return code;
}

void FrontEnd::Finish() {
  if (finished_) return;
  finished_ = true;
  mainForm_.Invoke("FormDestroy");
}

bool FrontEnd::SaveScreenshots(const std::string& folder) {
  CreateDirectoryW(Widen(folder, CP_ACP).c_str(), nullptr);
  const auto save = [this, &folder](HWND window, const std::string& name) {
    Settle(dialogs_, 400);
    const std::string path = folder + "\\" + name + ".bmp";
    if (SaveClientPicture(window, path)) return true;
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
  };
  FormRenderer* wait = waits_.empty() ? nullptr : waits_.back().get();
  return TakeScreenshotTour(mainForm_.Form(), main_->TabbedPages("MainPageControle"),
                            wait != nullptr ? &wait->Model() : nullptr,
                            [&](int window, const std::string& name) {
                              return save(window == 0 ? main_->Window() : wait->Window(), name);
                            });
}

}  // namespace win32ui
