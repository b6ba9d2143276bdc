// Carries out the steps of a `drive` script on the property sheet, on the
// sheet's own thread, with the messages a user's mouse and keyboard would cause.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "portable/drive_script.h"
#include "suite/common/box_answer.h"

namespace cvhost {

class CDriveRunner {
 public:
  explicit CDriveRunner(std::vector<drive::step_t> steps);
  CDriveRunner(const CDriveRunner&) = delete;
  CDriveRunner& operator=(const CDriveRunner&) = delete;
  ~CDriveRunner();

  // Runs every step, one result line each, stopping at the first failure. Called
  // inside the sheet's message loop; the steps pump messages themselves. Returns
  // false when a step failed.
  bool run(HWND sheet);

 private:
  // Each throws step_failure (with the reason) or returns the rest of its line.
  std::string run_step(const drive::step_t& step);
  std::string choose_page(const drive::step_t& step);
  std::string click(const drive::step_t& step);
  std::string list_action(const drive::step_t& step);
  std::string keys(const drive::step_t& step);
  std::string drag(const drive::step_t& step);
  std::string arm_menu(const drive::step_t& step);
  std::string arm_box(const drive::step_t& step);
  std::string sheet_button(const drive::step_t& step, int id, const char* name);
  std::string wait(const drive::step_t& step);
  std::string rows(const drive::step_t& step);
  std::string controls();
  std::string focus_order();
  std::string screenshot(const drive::step_t& step);
  std::string answer_notify(const drive::step_t& step);
  // The picture of the next box, taken in the box's loop before it is answered.
  void picture_box(HWND box);

  HWND page() const;
  HWND find_control(const drive::target_t& target, bool lists_only) const;
  // A failed answer of a box or menu armed earlier, noticed after a step.
  void check_answers();

  std::vector<drive::step_t> m_steps;
  HWND m_sheet = nullptr;
  std::unique_ptr<standin::CBoxAnswer> m_box;
  int m_box_line = 0;
  std::unique_ptr<standin::CMenuAnswer> m_menu;
  int m_menu_line = 0;
  std::vector<std::string> m_after;  // dump lines printed after the step's line
  std::wstring m_box_picture;        // where the next box's picture goes
  int m_box_picture_line = 0;
  std::string m_picture_failure;
  // Notifications answered in place of the windows that would get them.
  struct notify_answer_t {
    HWND window;
    std::vector<std::pair<UINT, LRESULT>> answers;  // code, answer
  };
  std::vector<std::unique_ptr<notify_answer_t>> m_notify_answers;
};

}  // namespace cvhost
