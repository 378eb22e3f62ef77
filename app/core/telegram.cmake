# Telegram output: the port broker and its device code.
target_link_libraries(tavimo_core PUBLIC telegrax PRIVATE comlane)
