tavimo_test(utilonui_tests
  SOURCES ResizerTest.cpp ResizeableDialogTest.cpp AgeLastCtrlTest.cpp
  LIBS utilonui Qt6::Widgets Qt6::Test GUI)
