# The configuration file: libxml2 for the document, and the shipped default file built
# into the core, so that a missing configuration can be written without an installed copy.
target_link_libraries(tavimo_core PUBLIC LibXml2::LibXml2)

set(tavimo_default_config ${PROJECT_SOURCE_DIR}/data/Tavimo.xml)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tavimo_default_config})
file(READ ${tavimo_default_config} TAVIMO_DEFAULT_CONFIGURATION)
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/core/DefaultConfiguration.cpp
  CONTENT [=[// Generated from data/Tavimo.xml: the configuration Tavimo writes where none exists.
namespace tavimo_config {
extern const char kDefaultConfiguration[];
const char kDefaultConfiguration[] = R"tavimo(@TAVIMO_DEFAULT_CONFIGURATION@)tavimo";
}  // namespace tavimo_config
]=] @ONLY)
target_sources(tavimo_core PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/core/DefaultConfiguration.cpp)
install(FILES ${tavimo_default_config} DESTINATION ${CMAKE_INSTALL_DATADIR}/tavimo)
