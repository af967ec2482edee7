// The page's side in the browser (page-bridge.js, which hands each call to page.js), as the C++
// side calls it. Control ids are the dialog's; texts are UTF-8.
#pragma once

#include <cstdint>

extern "C" {
// The browser, for the log: its user agent text (allocated once, never released).
const char* kv5_page_browser_name();
void kv5_page_title(const char* title);
void kv5_page_enable(int id, int enable);
void kv5_page_text(int id, const char* text);
void kv5_page_list_reset(int id);
void kv5_page_list_add(int id, const char* text);
void kv5_page_list_select(int id, int index);
void kv5_page_progress(int32_t lower, int32_t upper, int32_t position);
void kv5_page_about_entry(uint32_t command, const char* text);
void kv5_page_about_box(const char* title, const char* note);
// A modal box: icon 0 error, 1 information, 2 a question (Yes and No, No the default); detail, when
// not empty, a paragraph under the text. The ticket settles with 1 for OK or Yes, 0 for No, once
// the user has answered.
void kv5_page_box(const char* text, const char* caption, int icon, const char* detail, int ticket);
// A session began (busy) or ended: the page guards against leaving and keeps the screen on.
void kv5_page_session(int busy);
// Messages to the unit keep being refused: what the owner can do (said once a session).
void kv5_page_refused_chunk(uint32_t address, int attempts);
}
