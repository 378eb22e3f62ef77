# The configuration file: libxml2 for the document, and the shipped default file built
# into the core, so that a missing configuration can be written without an installed copy.
target_link_libraries(tavimo_core PUBLIC LibXml2::LibXml2)
