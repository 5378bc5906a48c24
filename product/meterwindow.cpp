// The meter window: receive and send rates of the network interfaces as
// numbers and as a graph of the last minute, sampled once a second. Paints
// through a memory bitmap so the graph never flickers; every pen, brush and
// bitmap is made and destroyed within one paint, the fonts live as long as
// the window or its DPI. The rates are static controls, so a screen reader
// reads them; the graph is only painted. Every size below is in pixels at
// 96 DPI and is scaled to the DPI of the monitor the window is on; with a
// high-contrast theme the meter paints in the theme's colours.
#include "product.h"

#include "contract.h"

#include <shellapi.h>
#include <shlobj.h>
#include <windowsx.h>

constexpr UINT_PTR SampleTimer = 1;
constexpr UINT SampleIntervalMs = 1000;
constexpr int ClientWidth = 360;  // pixels at 96 DPI, as every size here
constexpr int ClientHeight = 214;
constexpr int Margin = 16;     // around the rows and the graph
constexpr int RowHeight = 28;  // per rate row
constexpr int RowsTop = Margin - 4;
constexpr int GraphTop = Margin + 2 * RowHeight + 8;
constexpr int RowCount = 2;           // received, sent
constexpr int FirstRowControl = 100;  // ids: caption, value of each row in turn

constexpr COLORREF BackgroundColor = RGB(246, 247, 249);
constexpr COLORREF TextColor = RGB(40, 44, 52);
constexpr COLORREF DimTextColor = RGB(142, 150, 164);
constexpr COLORREF PanelColor = RGB(27, 31, 40);
constexpr COLORREF GridColor = RGB(52, 58, 72);
constexpr COLORREF ReceivedColor = RGB(72, 199, 116);
constexpr COLORREF ReceivedFillColor = RGB(40, 112, 76);
constexpr COLORREF SentColor = RGB(255, 153, 51);

// What one paint draws with: the meter's own colours, or the system's under
// a high-contrast theme.
struct MeterColours {
  COLORREF background, text, dimText, panel, grid, received, receivedFill, sent;
  bool fillReceived;  // the area under the received line; not in high contrast
};

static struct {
  UINT dpi;                 // of the monitor the window is on; 96 is 100 per cent
  HBRUSH background;        // behind the rate controls; made once
  HFONT labelFont;          // row captions
  HFONT valueFont;          // the two rates
  HFONT smallFont;          // graph scale and notes
  CounterState counters;    // previous interface reading
  RateHistory history;      // bytes per second, one sample a second
  DWORD lastSampleTick;     // GetTickCount of the previous reading, ms
  bool tableFound;          // the system has one of the table functions
  bool countersAvailable;   // tableFound, and the last reading worked
  uint64_t received;        // newest receive rate, bytes per second
  uint64_t sent;            // newest send rate, bytes per second
  bool paused;              // the graph stands still; the numbers go on
  bool onTop;               // the window stays above the others
  bool exitArmed;           // ExitEventRequests' memory of the setup's event
  char settings[MAX_PATH];  // the KELVRA.INI read: the user's, or the installed defaults
  bool settingsOwn;         // settings is the user's own file, which the meter may write
} meter;

static void KeepOnTopSetting();

// A size at 96 DPI in pixels at the window's DPI.
static int Px(int size) { return MulDiv(size, int(meter.dpi), 96); }
static RECT PxRect(int left, int top, int right, int bottom) {
  return {Px(left), Px(top), Px(right), Px(bottom)};
}

typedef UINT(WINAPI *GetDpiForWindowFn)(HWND);
typedef BOOL(WINAPI *AdjustWindowRectExForDpiFn)(RECT *, DWORD, BOOL, DWORD, UINT);

static FARPROC User32Function(const char *name) {
  return GetProcAddress(GetModuleHandleA("user32.dll"), name);
}

// The DPI of the window's monitor; before Windows 10 the system's.
static UINT WindowDpi(HWND window) {
  FARPROC found = User32Function("GetDpiForWindow");
  UINT dpi = found ? reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void *>(found))(window) : 0;
  if (dpi == 0) {
    HDC screen = GetDC(nullptr);
    dpi = UINT(GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
  }
  return dpi ? dpi : 96;
}

static HFONT MakeFont(int height, int weight) {
  return CreateFontA(-Px(height), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, "Tahoma");
}

static void SampleCounters() {
  InterfaceSample now[MaxInterfaces];
  bool ok = false;
  const unsigned count = ReadInterfaceCounters(now, MaxInterfaces, ok);
  const DWORD tick = GetTickCount();
  meter.countersAvailable = ok;
  if (!ok) {
    // A failed reading breaks the chain: the next one starts afresh.
    StartCounters(meter.counters);
    meter.received = meter.sent = 0;
  } else {
    const bool first = !meter.counters.havePrevious;
    uint64_t receivedBytes, sentBytes;
    TakeReading(meter.counters, now, count, receivedBytes, sentBytes);
    const DWORD elapsed = tick - meter.lastSampleTick;  // unsigned: survives the tick wrap
    meter.received = first ? 0 : RatePerSecond(receivedBytes, elapsed);
    meter.sent = first ? 0 : RatePerSecond(sentBytes, elapsed);
  }
  meter.lastSampleTick = tick;
}

static void StartMeter() {
  meter.counters = {};
  StartCounters(meter.counters);
  StartHistory(meter.history);
  meter.tableFound = StartInterfaceCounters();
  meter.countersAvailable = false;
  meter.received = meter.sent = 0;
  meter.paused = meter.onTop = false;
  meter.lastSampleTick = GetTickCount();
  if (meter.tableFound) SampleCounters();
  meter.dpi = 96;
  meter.background = CreateSolidBrush(BackgroundColor);
  meter.labelFont = meter.valueFont = meter.smallFont = nullptr;
}

static void DeleteFonts() {
  DeleteObject(meter.labelFont);
  DeleteObject(meter.valueFont);
  DeleteObject(meter.smallFont);
  meter.labelFont = meter.valueFont = meter.smallFont = nullptr;
}

static void StopMeter() {
  StopInterfaceCounters();
  DeleteFonts();
  DeleteObject(meter.background);
  meter.background = nullptr;
}

static bool HighContrast() {
  HIGHCONTRASTA contrast = {sizeof contrast, 0, nullptr};
  return SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
         (contrast.dwFlags & HCF_HIGHCONTRASTON);
}

static MeterColours CurrentColours() {
  if (!HighContrast())
    return {BackgroundColor, TextColor,         DimTextColor, PanelColor, GridColor,
            ReceivedColor,   ReceivedFillColor, SentColor,    true};
  const COLORREF window = GetSysColor(COLOR_WINDOW), text = GetSysColor(COLOR_WINDOWTEXT);
  return {window,
          text,
          GetSysColor(COLOR_GRAYTEXT),
          window,
          GetSysColor(COLOR_GRAYTEXT),
          GetSysColor(COLOR_HIGHLIGHT),
          window,
          GetSysColor(COLOR_HOTLIGHT),
          false};
}

// The row controls: caption and value per row, where the paint leaves room.
static void PlaceRowControls(HWND window) {
  for (int row = 0; row < RowCount; row++) {
    const int top = RowsTop + row * RowHeight;
    const RECT caption = PxRect(Margin + 18, top, ClientWidth / 2, top + RowHeight);
    const RECT value = PxRect(ClientWidth / 2, top, ClientWidth - Margin, top + RowHeight);
    HWND captionControl = GetDlgItem(window, FirstRowControl + 2 * row);
    HWND valueControl = GetDlgItem(window, FirstRowControl + 2 * row + 1);
    MoveWindow(captionControl, caption.left, caption.top, caption.right - caption.left,
               caption.bottom - caption.top, TRUE);
    MoveWindow(valueControl, value.left, value.top, value.right - value.left, value.bottom - value.top, TRUE);
    SendMessageA(captionControl, WM_SETFONT, WPARAM(meter.labelFont), TRUE);
    SendMessageA(valueControl, WM_SETFONT, WPARAM(meter.valueFont), TRUE);
  }
}

// Fonts and control places for the window's current DPI.
static void ApplyDpi(HWND window, UINT dpi) {
  const HFONT oldFonts[] = {meter.labelFont, meter.valueFont, meter.smallFont};
  meter.dpi = dpi;
  meter.labelFont = MakeFont(13, FW_NORMAL);
  meter.valueFont = MakeFont(18, FW_BOLD);
  meter.smallFont = MakeFont(11, FW_NORMAL);
  PlaceRowControls(window);
  for (HFONT font : oldFonts) DeleteObject(font);
  InvalidateRect(window, nullptr, FALSE);
}

static void CreateRowControls(HWND window, HINSTANCE instance) {
  static const char *const Captions[RowCount] = {"Received", "Sent"};
  for (int row = 0; row < RowCount; row++) {
    CreateWindowExA(0, "STATIC", Captions[row],
                    WS_CHILD | WS_VISIBLE | SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, 0, 0, 0, 0, window,
                    HMENU(INT_PTR(FirstRowControl + 2 * row)), instance, nullptr);
    CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_RIGHT | SS_CENTERIMAGE | SS_NOPREFIX, 0, 0, 0,
                    0, window, HMENU(INT_PTR(FirstRowControl + 2 * row + 1)), instance, nullptr);
  }
}

// The rate as the value control shows it; set only when it changed, so the
// control does not flicker and a screen reader hears only news.
static void ShowRate(HWND window, int row, uint64_t rate) {
  char value[RateTextSize], shown[RateTextSize];
  if (meter.countersAvailable)
    FormatRate(rate, value, sizeof(value));
  else
    lstrcpynA(value, "n/a", sizeof(value));
  HWND control = GetDlgItem(window, FirstRowControl + 2 * row + 1);
  GetWindowTextA(control, shown, sizeof(shown));
  if (lstrcmpA(value, shown) != 0) SetWindowTextA(control, value);
}

static void FillSolid(HDC dc, const RECT &rect, COLORREF color) {
  HBRUSH brush = CreateSolidBrush(color);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

static void DrawLabel(HDC dc, HFONT font, COLORREF color, const char *text, RECT rect, UINT format) {
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetTextColor(dc, color);
  DrawTextA(dc, text, -1, &rect, format | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, oldFont);
}

// The row's colour key; its caption and value are controls over the paint.
static void DrawRateSwatch(HDC dc, int row, COLORREF color) {
  const int top = RowsTop + row * RowHeight;
  FillSolid(dc, PxRect(Margin, top + 9, Margin + 10, top + 19), color);
}

// Points of one series, oldest first; x runs so that a full minute spans the width.
static unsigned PlotSeries(const RECT &plot, uint64_t fullScale, bool received, POINT *points) {
  const int width = plot.right - plot.left - 1;
  const int height = plot.bottom - plot.top - 1;
  const unsigned count = meter.history.count;
  for (unsigned i = 0; i < count; i++) {
    const unsigned age = count - 1 - i;
    uint64_t receivedRate, sentRate;
    HistoryAt(meter.history, age, receivedRate, sentRate);
    points[i].x = plot.right - 1 - int(age) * width / int(HistoryLength - 1);
    points[i].y = plot.bottom - 1 - ScaleToHeight(received ? receivedRate : sentRate, fullScale, height);
  }
  return count;
}

static void DrawLine(HDC dc, const POINT *points, unsigned count, COLORREF color) {
  HPEN pen = CreatePen(PS_SOLID, Px(2), color);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  Polyline(dc, points, int(count));
  SelectObject(dc, oldPen);
  DeleteObject(pen);
}

static void DrawGrid(HDC dc, const RECT &plot, COLORREF color) {
  HPEN pen = CreatePen(PS_SOLID, Px(1), color);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  for (int i = 1; i < 4; i++) {
    const int y = plot.top + (plot.bottom - plot.top) * i / 4;
    MoveToEx(dc, plot.left, y, nullptr);
    LineTo(dc, plot.right, y);
  }
  // One line every ten seconds.
  for (int i = 1; i < 6; i++) {
    const int x = plot.left + (plot.right - plot.left) * i / 6;
    MoveToEx(dc, x, plot.top, nullptr);
    LineTo(dc, x, plot.bottom);
  }
  SelectObject(dc, oldPen);
  DeleteObject(pen);
}

static void DrawGraph(HDC dc, const RECT &panel, const MeterColours &colours) {
  FillSolid(dc, panel, colours.panel);
  const RECT plot = {panel.left + Px(1), panel.top + Px(1), panel.right - Px(1), panel.bottom - Px(1)};
  DrawGrid(dc, plot, colours.grid);
  const RECT note = {plot.left + Px(6), plot.top + Px(3), plot.right - Px(6), plot.bottom - Px(3)};
  if (!meter.countersAvailable) {
    DrawLabel(dc, meter.smallFont, colours.dimText, "Network counters are not available.", note,
              DT_CENTER | DT_VCENTER);
    return;
  }
  const uint64_t fullScale = GraphFullScale(meter.history);
  POINT points[HistoryLength + 2];
  unsigned count = PlotSeries(plot, fullScale, true, points);
  if (count >= 2) {
    // The received area is filled down to the base line, the sent line drawn over it.
    points[count] = {points[count - 1].x, plot.bottom - 1};
    points[count + 1] = {points[0].x, plot.bottom - 1};
    if (colours.fillReceived) {
      HBRUSH brush = CreateSolidBrush(colours.receivedFill);
      HGDIOBJ oldBrush = SelectObject(dc, brush);
      HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
      Polygon(dc, points, int(count + 2));
      SelectObject(dc, oldPen);
      SelectObject(dc, oldBrush);
      DeleteObject(brush);
    }
    DrawLine(dc, points, count, colours.received);
    count = PlotSeries(plot, fullScale, false, points);
    DrawLine(dc, points, count, colours.sent);
  }
  char scale[RateTextSize];
  FormatRate(fullScale, scale, sizeof(scale));
  DrawLabel(dc, meter.smallFont, colours.dimText, scale, note, DT_LEFT | DT_TOP);
  DrawLabel(dc, meter.smallFont, colours.dimText, meter.paused ? "paused" : "last minute", note,
            DT_RIGHT | DT_TOP);
}

static void PaintMeter(HWND window) {
  PAINTSTRUCT paint;
  HDC windowDc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  HDC dc = CreateCompatibleDC(windowDc);
  HBITMAP bitmap = CreateCompatibleBitmap(windowDc, client.right, client.bottom);
  if (dc && bitmap) {
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    SetBkMode(dc, TRANSPARENT);
    const MeterColours colours = CurrentColours();
    FillSolid(dc, client, colours.background);
    DrawRateSwatch(dc, 0, colours.received);
    DrawRateSwatch(dc, 1, colours.sent);
    DrawGraph(dc, {Px(Margin), Px(GraphTop), client.right - Px(Margin), client.bottom - Px(Margin)}, colours);
    BitBlt(windowDc, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    SelectObject(dc, oldBitmap);
  }
  if (bitmap) DeleteObject(bitmap);
  if (dc) DeleteDC(dc);
  EndPaint(window, &paint);
}

static void TogglePause(HWND window) {
  meter.paused = !meter.paused;
  InvalidateRect(window, nullptr, FALSE);
}

static void SetOnTop(HWND window, bool onTop) {
  meter.onTop = onTop;
  SetWindowPos(window, onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// The help is a plain text file beside the program.
static void ShowHelp(HWND window) {
  char path[MAX_PATH], directory[MAX_PATH], arguments[MAX_PATH + 2];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  if (length == 0 || length >= sizeof(path) || !DirectoryOfPath(path, directory, sizeof(directory))) return;
  if (!JoinPath(path, sizeof(path), directory, HelpFile)) return;
  wsprintfA(arguments, "\"%s\"", path);
  ShellExecuteA(window, "open", "notepad.exe", arguments, directory, SW_SHOWNORMAL);
}

static bool HandleKey(HWND window, WPARAM key) {
  switch (key) {
    case VK_SPACE:
      TogglePause(window);
      return true;
    case VK_ESCAPE:
      ShowWindow(window, SW_MINIMIZE);
      return true;
    case VK_F1:
      ShowHelp(window);
      return true;
    case 'T':
      if (GetKeyState(VK_CONTROL) >= 0) return false;
      SetOnTop(window, !meter.onTop);
      KeepOnTopSetting();
      return true;
  }
  return false;
}

// The installed KELVRA.INI holds the vendor's defaults; each user's own
// copy lives in %APPDATA%\Kelvra, made from them the first time, so that a
// standard user can keep settings and no reinstall or uninstall touches them.
static void FindUserSettings() {
  char installed[MAX_PATH], directory[MAX_PATH], folder[MAX_PATH];
  meter.settings[0] = '\0';
  meter.settingsOwn = false;
  const DWORD length = GetModuleFileNameA(nullptr, installed, sizeof(installed));
  if (length == 0 || length >= sizeof(installed) ||
      !DirectoryOfPath(installed, directory, sizeof(directory)) ||
      !JoinPath(installed, sizeof(installed), directory, "KELVRA.INI"))
    installed[0] = '\0';
  if (SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, folder) !=
          S_OK ||
      !JoinPath(folder, sizeof(folder), folder, "\\Kelvra")) {
    lstrcpynA(meter.settings, installed, sizeof(meter.settings));  // read only: never written
    return;
  }
  CreateDirectoryA(folder, nullptr);  // may exist already
  meter.settingsOwn = JoinPath(meter.settings, sizeof(meter.settings), folder, "\\KELVRA.INI");
  if (!meter.settingsOwn) return;
  if (installed[0] && GetFileAttributesA(meter.settings) == INVALID_FILE_ATTRIBUTES)
    CopyFileA(installed, meter.settings, TRUE);
}

static void ReadSettings(bool &onTop, bool &minimized) {
  FindUserSettings();
  onTop = GetPrivateProfileIntA("Kelvra", "AlwaysOnTop", 0, meter.settings) != 0;
  minimized = GetPrivateProfileIntA("Kelvra", "StartMinimized", 0, meter.settings) != 0;
}

// Only a switch the user flipped is written, and only to the user's own file.
static void KeepOnTopSetting() {
  if (meter.settingsOwn)
    WritePrivateProfileStringA("Kelvra", "AlwaysOnTop", meter.onTop ? "1" : "0", meter.settings);
}

// The setup's event reaches every session, where its broadcast reaches only
// its own desktop. Looked for anew on each tick: the setup makes it only for
// the time of its wait.
static bool ExitEventSet() {
  HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, ExitEventName);
  if (!event) return false;
  const bool set = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
  CloseHandle(event);
  return set;
}

static LRESULT CALLBACK MeterWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == ExitMessage() && message != 0) {
    DestroyWindow(window);
    return 0;
  }
  switch (message) {
    case WM_CREATE:
      CreateRowControls(window, reinterpret_cast<CREATESTRUCTA *>(lParam)->hInstance);
      ApplyDpi(window, WindowDpi(window));
      ShowRate(window, 0, meter.received);
      ShowRate(window, 1, meter.sent);
      ExitEventRequests(meter.exitArmed, ExitEventSet());
      SetTimer(window, SampleTimer, SampleIntervalMs, nullptr);
      return 0;
    case WM_TIMER:
      if (wParam != SampleTimer) break;
      if (ExitEventRequests(meter.exitArmed, ExitEventSet())) {
        DestroyWindow(window);
        return 0;
      }
      if (meter.tableFound) SampleCounters();
      if (!meter.paused) PushRates(meter.history, meter.received, meter.sent);
      ShowRate(window, 0, meter.received);
      ShowRate(window, 1, meter.sent);
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_DPICHANGED: {
      // Moved to a monitor of another scale: the system suggests the frame.
      ApplyDpi(window, HIWORD(wParam));
      const RECT *suggested = reinterpret_cast<const RECT *>(lParam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      const MeterColours colours = CurrentColours();
      SetTextColor(HDC(wParam), colours.text);
      SetBkColor(HDC(wParam), colours.background);
      return LRESULT(HighContrast() ? GetSysColorBrush(COLOR_WINDOW) : meter.background);
    }
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:  // a high-contrast theme switched on or off
      InvalidateRect(window, nullptr, TRUE);
      break;
    case WM_LBUTTONDOWN:
      if (GET_Y_LPARAM(lParam) < Px(GraphTop)) break;
      TogglePause(window);
      return 0;
    case WM_KEYDOWN:
      if (HandleKey(window, wParam)) return 0;
      break;
    case WM_ERASEBKGND:
      return 1;  // the paint covers every pixel
    case WM_PAINT:
      PaintMeter(window);
      return 0;
    case WM_DESTROY:
      KillTimer(window, SampleTimer);
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// Becomes the one running meter, or brings the running one to the front.
// Returns the mutex to hold for the life of the meter, or null to exit.
static HANDLE ClaimSingleInstance() {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, MeterInstanceMutex);
  if (!mutex) return INVALID_HANDLE_VALUE;  // run anyway; nothing to hold
  // A copy that was just told to exit may still hold the mutex for a moment
  // without a window, and one just started may not have its window yet.
  for (int attempt = 0; attempt < 50; attempt++) {
    const DWORD wait = WaitForSingleObject(mutex, attempt == 0 ? 0 : 100);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) return mutex;
    HWND other = FindWindowA(MeterWindowClass, nullptr);
    if (other) {
      if (IsIconic(other)) ShowWindow(other, SW_RESTORE);
      SetForegroundWindow(other);
      break;
    }
  }
  CloseHandle(mutex);
  return nullptr;
}

int RunMeter(HINSTANCE instance, int showState) {
  HANDLE mutex = ClaimSingleInstance();
  if (!mutex) return 0;

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = MeterWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
  if (!windowClass.hIcon) windowClass.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.lpszClassName = MeterWindowClass;
  int exitCode = 1;
  if (RegisterClassA(&windowClass)) {
    StartMeter();
    bool onTop, minimized;
    ReadSettings(onTop, minimized);
    meter.onTop = onTop;
    // On top from its creation: never a moment below other windows, or seen so.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    HWND window =
        CreateWindowExA(onTop ? WS_EX_TOPMOST : 0, MeterWindowClass, "Kelvra", style, CW_USEDEFAULT,
                        CW_USEDEFAULT, ClientWidth, ClientHeight, nullptr, nullptr, instance, nullptr);
    if (window) {
      // Sized once the window knows the DPI of the monitor it landed on.
      RECT frame = PxRect(0, 0, ClientWidth, ClientHeight);
      FARPROC adjust = User32Function("AdjustWindowRectExForDpi");
      if (adjust)
        reinterpret_cast<AdjustWindowRectExForDpiFn>(reinterpret_cast<void *>(adjust))(&frame, style, FALSE,
                                                                                       0, meter.dpi);
      else
        AdjustWindowRect(&frame, style, FALSE);
      SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      ShowWindow(window, minimized ? SW_SHOWMINNOACTIVE : showState);
      UpdateWindow(window);
      MSG msg;
      while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      exitCode = 0;
    }
    StopMeter();
  }
  if (mutex != INVALID_HANDLE_VALUE) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  return exitCode;
}
