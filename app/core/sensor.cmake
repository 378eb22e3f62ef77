# Sensor acquisition: the alarm client speaks to the alarm service (Logmill2), and the
# sensor object (MTObj) is bound at run time through the class table. Both register their
# classes when loaded, so every binary that links the core loads them even though it calls
# no symbol of theirs (the linker would otherwise drop them as not needed). The feature is
# a cache entry so that every folder linking the core knows it.
set(CMAKE_LINK_LIBRARY_USING_TAVIMO_COM_SERVER "LINKER:--push-state,--no-as-needed" "<LINK_ITEM>" "LINKER:--pop-state"
    CACHE INTERNAL "Links a library that registers COM classes on load")
set(CMAKE_LINK_LIBRARY_USING_TAVIMO_COM_SERVER_SUPPORTED TRUE CACHE INTERNAL "")
target_link_libraries(tavimo_core PUBLIC "$<LINK_LIBRARY:TAVIMO_COM_SERVER,mtobj,logmill>")
