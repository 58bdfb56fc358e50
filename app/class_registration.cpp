#include "app/class_registration.h"

#include "content/character_data.h"
#include "content/content_data.h"
#include "content/project_data.h"
#include "control/camera_control.h"
#include "control/flexi_control.h"
#include "control/image_control.h"
#include "control/keyframe_control.h"
#include "control/layer_control.h"
#include "control/light_controls.h"
#include "control/link_control.h"
#include "control/look_at_control.h"
#include "control/material_control.h"
#include "control/mesh_deformers.h"
#include "control/particle_control.h"
#include "control/share_control.h"
#include "control/spring_control.h"
#include "control/uvw_map_control.h"
#include "control/visibility_control.h"
#include "object/base.h"
#include "object/custom_data.h"
#include "environment/environment.h"
#include "environment/grass.h"
#include "environment/terrain.h"
#include "environment/tree.h"
#include "environment/wind.h"
#include "image/image.h"
#include "image/thumbnail.h"
#include "material/material.h"
#include "material/texture.h"
#include "scene/audio.h"
#include "scene/billboard.h"
#include "scene/bounding_objects.h"
#include "scene/camera.h"
#include "scene/image_layer.h"
#include "scene/light.h"
#include "scene/node.h"
#include "scene/particles.h"
#include "scene/scene_settings.h"
#include "scene/tri_mesh.h"

namespace KX {

// The start-up order of the converter: the images first, then the scene classes, controllers,
// records and content records. A class not built yet has no line here; files that use it fail
// to load with "unknown class".
void RegisterAllClasses() {
  RegisterClass<CImage>();
  RegisterClass<CAnmImage>();
  RegisterClass<CScene>();
  RegisterClass<CWater>();
  RegisterClass<CSky>();
  RegisterClass<CTerrain>();
  RegisterClass<CCameraSwitcher>();
  RegisterClass<CImageLayer>();
  RegisterClass<CHeightMap>();
  RegisterClass<CHeightData>();
  RegisterClass<CQuadTree>();
  RegisterClass<CNode>();
  RegisterClass<CBoundingBox>();
  RegisterClass<CBoundingMesh>();
  RegisterClass<CRTSLayerControl>();
  RegisterClass<CRTSSelectorControl>();
  RegisterClass<CRTSClipControl>();
  RegisterClass<CTriMesh>();
  RegisterClass<CUvwMap>("CTriMeshUVWMap");
  RegisterClass<CUvwMap>();
  // Bone meshes were only ever meshes with another name; they load as plain meshes.
  RegisterClass<CTriMesh>("CBoneMesh");
  RegisterClass<CTriMesh>("CBoneNodeMesh");
  RegisterClass<CTriMesh>("CBoneShapeMesh");
  RegisterClass<CParticles>();
  RegisterClass<CBillboard>();
  RegisterClass<CPointLight>();
  RegisterClass<CDirectionalLight>();
  RegisterClass<CSpotLight>();
  RegisterClass<CStandardMaterial>();
  RegisterClass<CBlendMaterial>();
  RegisterClass<CMultiMaterial>();
  RegisterClass<CTextureMap>();
  RegisterClass<CBlendTex>();
  RegisterClass<CNormalBumpTex>();
  RegisterClass<CCubeMap>();
  RegisterClass<CRefractionMap>();
  RegisterClass<CCamera>();
  RegisterClass<CCameraTarget>();
  RegisterClass<CBoneSkinControl>();
  RegisterClass<CKeyframeControl>();
  RegisterClass<CKeyframeClipControl>();
  RegisterClass<CMorphControl>();
  RegisterClass<CConnectControl>();
  RegisterClass<CConnectData>();
  RegisterClass<CMeshSelControl>();
  RegisterClass<CLightControl>();
  RegisterClass<CCameraControl>();
  RegisterClass<CAnmImageControl>();
  RegisterClass<CLinkControl>();
  RegisterClass<CParticleControl>();
  RegisterClass<CParticleClipControl>();
  RegisterClass<CLookAtControl>();
  RegisterClass<CSpringControl>();
  RegisterClass<CMaterialControl>();
  RegisterClass<CMaterialClipControl>();
  RegisterClass<CMaterialLayerControl>();
  RegisterClass<CBooleanControl>();
  RegisterClass<CSpotLightControl>();
  RegisterClass<CPointLightControl>();
  RegisterClass<CShareControl>();
  RegisterClass<CAudioData>();
  RegisterClass<CAudioInstance>();
  RegisterClass<CThumbnail>();
  RegisterClass<CBillboardNode>();
  // Map controllers were once stored under the mesh-map name.
  RegisterClass<CUvwMapControl>("CTriMeshUVWMapControl");
  RegisterClass<CUvwMapControl>();
  RegisterClass<CUvwMapClipControl>();
  RegisterClass<CUvwMapDataControl>();
  RegisterClass<CRawData>();
  RegisterClass<CAuthorInfo>();
  RegisterClass<CTree>();
  RegisterClass<CTreeInstance>();
  RegisterClass<CWind>();
  RegisterClass<CGrass>();
  RegisterClass<CFlexiControl>();
  RegisterClass<CFlexiData>();
  RegisterClass<CXmlRawData>();
  RegisterClass<CCharacterData>();
  RegisterClass<CAccData>();
  RegisterClass<CProjectData>();
  RegisterClass<CRoseData>();
  RegisterClass<CWaterData>();
  RegisterClass<CSkyData>();
  RegisterClass<CHeadData>();
  RegisterClass<CExCntData>();
}

}  // namespace KX
