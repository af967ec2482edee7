// The page's side of the dialog's view: each call goes to the page script's object
// (Module.page, given when the module is created), which draws it in the markup.
mergeInto(LibraryManager.library, {
  kv5_page_browser_name__deps: ['$stringToNewUTF8'],
  kv5_page_browser_name: function() {
    return stringToNewUTF8(navigator.userAgent);
  },
  kv5_page_title: function(title) {
    Module['page'].title(UTF8ToString(title));
  },
  kv5_page_enable: function(id, enable) {
    Module['page'].enable(id, !!enable);
  },
  kv5_page_text: function(id, text) {
    Module['page'].text(id, UTF8ToString(text));
  },
  kv5_page_list_reset: function(id) {
    Module['page'].listReset(id);
  },
  kv5_page_list_add: function(id, text) {
    Module['page'].listAdd(id, UTF8ToString(text));
  },
  kv5_page_list_select: function(id, index) {
    Module['page'].listSelect(id, index);
  },
  kv5_page_progress: function(lower, upper, position) {
    Module['page'].progress(lower, upper, position);
  },
  kv5_page_about_entry: function(command, text) {
    Module['page'].aboutEntry(command, UTF8ToString(text));
  },
  kv5_page_about_box: function(title, note) {
    Module['page'].aboutBox(UTF8ToString(title), UTF8ToString(note));
  },
  kv5_page_box__deps: ['$kv5Settle'],
  kv5_page_box: function(text, caption, icon, detail, ticket) {
    Module['page'].box(UTF8ToString(text), UTF8ToString(caption), icon, UTF8ToString(detail),
                       function(answer) {
                         kv5Settle(ticket, answer);
                       });
  },
  kv5_page_session: function(busy) {
    Module['page'].session(!!busy);
  },
  kv5_page_refused_chunk: function(address, attempts) {
    Module['page'].refusedChunk(address >>> 0, attempts);
  },
});
