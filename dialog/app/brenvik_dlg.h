// The Main dialog, the program's only window: the image path, auto upgrade, browse, flash
// and exit, the progress bar and the status line. It shows the core's messages and
// progress, and runs one download at a time on a worker thread.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "app/published_progress.h"
#include "run/download_run.h"
#include "winui/dialog.h"

class CBrenvikDlg : public winui::Dialog,
                    public brenvik::MessageSink,
                    public brenvik::ProgressReporter {
 public:
  explicit CBrenvikDlg(std::wstring commandTail);
  ~CBrenvikDlg() override;

  // From the worker during a run (from the UI thread only when browse maps an image).
  void ShowMessage(const std::string& text, brenvik::MessageCaption caption) override;
  void SetRange(uint32_t maximum) override;
  void SetPosition(uint32_t position) override;
  void SetStatus(const std::string& line) override;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  void OnOK() override;
  void OnCancel() override;
  void OnDestroy() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
  // A handler threw: told as a failed run; a flash whose worker never started gives the
  // buttons back, since no worker will.
  void OnUnexpected(const char* what) override;

 private:
  // Posted by the worker as its last act; the UI thread then takes the run back.
  static constexpr UINT kRunEndedMessage = WM_APP + 1;
  // Sent by the worker before it shows a box: the controls catch up with the run first.
  static constexpr UINT kShowProgressMessage = WM_APP + 2;
  // The controls follow the run at this pace, not at every record: a window that is sent
  // thousands of updates a second holds the worker back.
  static constexpr UINT_PTR kProgressTimer = 1;
  static constexpr UINT kProgressPeriodMs = 40;

  bool OnSysCommand(WPARAM command);
  bool OnPaint();
  void OnExit();
  void OnBrowse();
  void OnFlash();
  void OnRunEnded();
  // The worker's part before the download: false when the run ends there (the user has
  // been told). Off the UI thread, since the acknowledgement may be awaited for a minute.
  bool PrepareRun();
  void ShowProgress();  // UI thread: the newest published values onto the controls
  // While a run is in flight nothing may end the dialog or change its image, and a logoff
  // is refused.
  void SetRunning(bool running);
  static DWORD WINAPI DownloadThreadProc(void* dialog);

  std::wstring m_iniPath;
  std::wstring m_imagePath;
  std::wstring m_commandTail;
  std::optional<std::string> m_devicePath;  // "-device PATH": no class search
  // Taken on the UI thread when flash is pressed, read by the worker.
  std::string m_flashPath;
  brenvik::FlashOptions m_flashOptions;
  HICON m_hIcon = nullptr;
  // The link, the image view and entry, the ImageKind and the run's error counter.
  brenvik::DownloadRun m_run;
  HANDLE m_worker = nullptr;
  bool m_running = false;
  int m_messagesShown = 0;
  brenvik::app::PublishedProgress m_published;  // the worker's newest progress
};
