// A small example of a report: a sound-velocity probe's last cast as a block tree (a
// units block and the probe's block under one root) and the generator that writes it.
#pragma once

#include <memory>
#include <string>

#include "tagbook/DataBlock.h"
#include "tagbook/UnitBlock.h"
#include "tagbook/XmlReportGenerator.h"

namespace tagbook_example {
// The survey's tree: ":Units" converts, ":Probe" holds the cast, values in internal units.
class CSurveyTree {
public:
    CSurveyTree() {
        root.SetName("Survey");
        root.Initialise();
        root.AddProperty("Units[CUnitsBlock]", 0);
        root.AddProperty("Probe[CDataBlock]", 0);
        probe = root.GetChildObject("Probe");
        probe->Add("Vessel", std::string("MV Tern"));
        probe->Add("Latitude", 51.503125);
        probe->Add("Longitude", -0.126944);
        probe->Add("Heading", 271.25);
        probe->Add("Depth", 48.6);
        probe->Add("Temperature", 11.35);
        probe->Add("SoundVelocity", 1492.84);
    }
    CDataBlock root;
    CDataBlock* probe = nullptr;
};

class CProbeReport : public CXmlReportGenerator {
public:
    explicit CProbeReport(CSurveyTree& tree) : CXmlReportGenerator(&tree.root), m_tree(tree) {
        SetReportVersion(1);
        AddOutputFileFormat(".html", "Web page", tagbook::IDR_XSL_REPORT_HTML);
    }

protected:
    std::string GetRootElementName() const override { return "ProbeReport"; }

    HRESULT OnGenerateXml(xmlDocPtr doc, xmlNodePtr root, std::string* error) override {
        HRESULT status = CXmlReportGenerator::OnGenerateXml(doc, root, error);
        if (FAILED(status)) {
            return status;
        }
        status = GenerateXmlElement(doc, root, "Title", "Sound velocity cast", error);
        xmlNodePtr cast = xmlNewChild(root, nullptr, BAD_CAST "Cast", nullptr);
        if (FAILED(status) || cast == nullptr) {
            return FAILED(status) ? status : E_FAIL;
        }
        xmlNewProp(cast, BAD_CAST "Name", BAD_CAST "Last cast");
        CDataBlock* probe = m_tree.probe;
        std::string vessel;
        probe->Get("Vessel", vessel);
        status = GenerateXmlElement(doc, cast, "Vessel", vessel, error);
        // Each value in the unit the user chose for its kind of quantity.
        const struct {
            const char* name;
            const char* category;
        } values[] = {{"Latitude", "Latitude"},       {"Longitude", "Longitude"},
                      {"Heading", "Bearing"},         {"Depth", "Depth"},
                      {"Temperature", "Temperature"}, {"SoundVelocity", "SoundVelocity"}};
        for (const auto& value : values) {
            double number = 0.0;
            if (SUCCEEDED(status) && probe->Get(value.name, number) == 0) {
                status = E_FAIL;
            }
            if (SUCCEEDED(status)) {
                status = GenerateXmlElementWithUnits(doc, cast, value.name, number, value.category,
                                                     error);
            }
        }
        return status;
    }

private:
    CSurveyTree& m_tree;
};
}  // namespace tagbook_example
