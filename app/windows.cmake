# The program's windows host the LED, the resizable dialogs and the attitude controls.
target_link_libraries(tavimo_ui PUBLIC led utilonui attitude)
