// Round-trip samples of the project and character records.
#include "content/character_data.h"
#include "content/project_data.h"
#include "scene/node.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

CRefPtr<CBase> Project() {
  CRefPtr<CProjectData> project(new CProjectData);
  project->value1 = 25.0f;
  project->value2 = -4;
  project->pair1 = {1, 2, 3, 4, 5, 6, 7, 8};
  project->pair2[7] = 9;
  project->value5 = 0.5f;
  project->text = u"project";
  project->value7 = 3.0f;
  project->flag = true;
  project->value10 = 0.25f;
  project->value11 = 7;
  return project;
}

// The record in a node's custom data, keeping a node and another record of the file alive.
CRefPtr<CBase> Character() {
  CRefPtr<CNode> root(new CNode);
  root->name = u"Character";
  CRefPtr<CCharacterData> character(new CCharacterData);
  character->flag1 = false;
  character->value4 = 0xDEADBEEF;
  character->block2[15] = 2;
  character->object1 = new CNode;
  character->object1->name = u"body";
  character->object2 = new CRawData;
  character->text = u"hero";
  character->table1[u"b"].bytes.fill(1);
  character->table1[u"a"].bytes.fill(2);
  character->table2[u"pose"].bytes[23] = 3;
  character->value6 = 5;
  character->table3[u"skin"] = u"dark";
  character->table4[u"eye"].bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  character->flag4 = false;
  if (Failed(root->AttachCustomData(character.get()))) return nullptr;
  return root;
}

const RoundTripRegistrar project("CProjectData", Project);
const RoundTripRegistrar character("CCharacterData", Character);

}  // namespace
}  // namespace KX::test
