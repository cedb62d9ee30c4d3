#include "types/type_info.h"

#include <array>

namespace kestrix {

namespace {

struct ClassName {
  int32_t id;
  const char* name;
};

// Class identifiers and the engine's class names, in ascending order.
constexpr ClassName kClassNames[] = {
    {1, "GameObject"}, {2, "Component"}, {3, "LevelGameManager"}, {4, "Transform"},
    {5, "TimeManager"}, {6, "GlobalGameManager"}, {8, "Behaviour"}, {9, "GameManager"},
    {11, "AudioManager"}, {12, "ParticleAnimator"}, {13, "InputManager"},
    {15, "EllipsoidParticleEmitter"}, {17, "Pipeline"}, {18, "EditorExtension"},
    {19, "Physics2DSettings"}, {20, "Camera"}, {21, "Material"}, {23, "MeshRenderer"},
    {25, "Renderer"}, {26, "ParticleRenderer"}, {27, "Texture"}, {28, "Texture2D"},
    {29, "SceneSettings"}, {30, "GraphicsSettings"}, {33, "MeshFilter"}, {41, "OcclusionPortal"},
    {43, "Mesh"}, {45, "Skybox"}, {47, "QualitySettings"}, {48, "Shader"}, {49, "TextAsset"},
    {50, "Rigidbody2D"}, {51, "Physics2DManager"}, {53, "Collider2D"}, {54, "Rigidbody"},
    {55, "PhysicsManager"}, {56, "Collider"}, {57, "Joint"}, {58, "CircleCollider2D"},
    {59, "HingeJoint"}, {60, "PolygonCollider2D"}, {61, "BoxCollider2D"}, {62, "PhysicsMaterial2D"},
    {64, "MeshCollider"}, {65, "BoxCollider"}, {66, "SpriteCollider2D"}, {68, "EdgeCollider2D"},
    {72, "ComputeShader"}, {74, "AnimationClip"}, {75, "ConstantForce"},
    {76, "WorldParticleCollider"}, {78, "TagManager"}, {81, "AudioListener"}, {82, "AudioSource"},
    {83, "AudioClip"}, {84, "RenderTexture"}, {87, "MeshParticleEmitter"}, {88, "ParticleEmitter"},
    {89, "Cubemap"}, {90, "Avatar"}, {91, "AnimatorController"}, {92, "GUILayer"},
    {93, "RuntimeAnimatorController"}, {94, "ScriptMapper"}, {95, "Animator"},
    {96, "TrailRenderer"}, {98, "DelayedCallManager"}, {102, "TextMesh"}, {104, "RenderSettings"},
    {108, "Light"}, {109, "CGProgram"}, {110, "BaseAnimationTrack"}, {111, "Animation"},
    {114, "MonoBehaviour"}, {115, "MonoScript"}, {116, "MonoManager"}, {117, "Texture3D"},
    {118, "NewAnimationTrack"}, {119, "Projector"}, {120, "LineRenderer"}, {121, "Flare"},
    {122, "Halo"}, {123, "LensFlare"}, {124, "FlareLayer"}, {125, "HaloLayer"},
    {126, "NavMeshAreas"}, {127, "HaloManager"}, {128, "Font"}, {129, "PlayerSettings"},
    {130, "NamedObject"}, {131, "GUITexture"}, {132, "GUIText"}, {133, "GUIElement"},
    {134, "PhysicMaterial"}, {135, "SphereCollider"}, {136, "CapsuleCollider"},
    {137, "SkinnedMeshRenderer"}, {138, "FixedJoint"}, {140, "RaycastCollider"},
    {141, "BuildSettings"}, {142, "AssetBundle"}, {143, "CharacterController"},
    {144, "CharacterJoint"}, {145, "SpringJoint"}, {146, "WheelCollider"}, {147, "ResourceManager"},
    {148, "NetworkView"}, {149, "NetworkManager"}, {150, "PreloadData"}, {152, "MovieTexture"},
    {153, "ConfigurableJoint"}, {154, "TerrainCollider"}, {155, "MasterServerInterface"},
    {156, "TerrainData"}, {157, "LightmapSettings"}, {158, "WebCamTexture"},
    {159, "EditorSettings"}, {160, "InteractiveCloth"}, {161, "ClothRenderer"},
    {162, "EditorUserSettings"}, {163, "SkinnedCloth"}, {164, "AudioReverbFilter"},
    {165, "AudioHighPassFilter"}, {166, "AudioChorusFilter"}, {167, "AudioReverbZone"},
    {168, "AudioEchoFilter"}, {169, "AudioLowPassFilter"}, {170, "AudioDistortionFilter"},
    {171, "SparseTexture"}, {180, "AudioBehaviour"}, {181, "AudioFilter"}, {182, "WindZone"},
    {183, "Cloth"}, {184, "SubstanceArchive"}, {185, "ProceduralMaterial"},
    {186, "ProceduralTexture"}, {191, "OffMeshLink"}, {192, "OcclusionArea"}, {193, "Tree"},
    {194, "NavMeshObsolete"}, {195, "NavMeshAgent"}, {196, "NavMeshSettings"},
    {197, "LightProbesLegacy"}, {198, "ParticleSystem"}, {199, "ParticleSystemRenderer"},
    {200, "ShaderVariantCollection"}, {205, "LODGroup"}, {206, "BlendTree"}, {207, "Motion"},
    {208, "NavMeshObstacle"}, {210, "TerrainInstance"}, {212, "SpriteRenderer"}, {213, "Sprite"},
    {214, "CachedSpriteAtlas"}, {215, "ReflectionProbe"}, {216, "ReflectionProbes"},
    {220, "LightProbeGroup"}, {221, "AnimatorOverrideController"}, {222, "CanvasRenderer"},
    {223, "Canvas"}, {224, "RectTransform"}, {225, "CanvasGroup"}, {226, "BillboardAsset"},
    {227, "BillboardRenderer"}, {228, "SpeedTreeWindAsset"}, {229, "AnchoredJoint2D"},
    {230, "Joint2D"}, {231, "SpringJoint2D"}, {232, "DistanceJoint2D"}, {233, "HingeJoint2D"},
    {234, "SliderJoint2D"}, {235, "WheelJoint2D"}, {238, "NavMeshData"}, {240, "AudioMixer"},
    {241, "AudioMixerController"}, {243, "AudioMixerGroupController"},
    {244, "AudioMixerEffectController"}, {245, "AudioMixerSnapshotController"},
    {246, "PhysicsUpdateBehaviour2D"}, {247, "ConstantForce2D"}, {248, "Effector2D"},
    {249, "AreaEffector2D"}, {250, "PointEffector2D"}, {251, "PlatformEffector2D"},
    {252, "SurfaceEffector2D"}, {258, "LightProbes"}, {271, "SampleClip"},
    {272, "AudioMixerSnapshot"}, {273, "AudioMixerGroup"}, {290, "AssetBundleManifest"},
    {1001, "Prefab"}, {1002, "EditorExtensionImpl"}, {1003, "AssetImporter"},
    {1004, "AssetDatabase"}, {1005, "Mesh3DSImporter"}, {1006, "TextureImporter"},
    {1007, "ShaderImporter"}, {1008, "ComputeShaderImporter"}, {1011, "AvatarMask"},
    {1020, "AudioImporter"}, {1026, "HierarchyState"}, {1027, "GUIDSerializer"},
    {1028, "AssetMetaData"}, {1029, "DefaultAsset"}, {1030, "DefaultImporter"},
    {1031, "TextScriptImporter"}, {1032, "SceneAsset"}, {1034, "NativeFormatImporter"},
    {1035, "MonoImporter"}, {1037, "AssetServerCache"}, {1038, "LibraryAssetImporter"},
    {1040, "ModelImporter"}, {1041, "FBXImporter"}, {1042, "TrueTypeFontImporter"},
    {1044, "MovieImporter"}, {1045, "EditorBuildSettings"}, {1046, "DDSImporter"},
    {1048, "InspectorExpandedState"}, {1049, "AnnotationManager"}, {1050, "PluginImporter"},
    {1051, "EditorUserBuildSettings"}, {1052, "PVRImporter"}, {1053, "ASTCImporter"},
    {1054, "KTXImporter"}, {1101, "AnimatorStateTransition"}, {1102, "AnimatorState"},
    {1105, "HumanTemplate"}, {1107, "AnimatorStateMachine"}, {1108, "PreviewAssetType"},
    {1109, "AnimatorTransition"}, {1110, "SpeedTreeImporter"}, {1111, "AnimatorTransitionBase"},
    {1112, "SubstanceImporter"}, {1113, "LightmapParameters"}, {1120, "LightmapSnapshot"},
};

constexpr int32_t kMaxClassId = 1120;

// Dense index: slot id holds the table row + 1, or 0 for no class.
const std::array<uint16_t, kMaxClassId + 1>& ClassSlots() {
  static const std::array<uint16_t, kMaxClassId + 1> slots = [] {
    std::array<uint16_t, kMaxClassId + 1> s{};
    for (size_t i = 0; i < sizeof(kClassNames) / sizeof(kClassNames[0]); ++i)
      s[static_cast<size_t>(kClassNames[i].id)] = static_cast<uint16_t>(i + 1);
    return s;
  }();
  return slots;
}

enum : uint8_t { kDds = 1, kCrn = 2, kKtx = 4, kPvr = 8 };

struct FormatRow {
  const char* name;
  uint8_t targets;
};

// Texture formats 1 to 61, named as the engine's TextureFormat names them, and the containers
// that take each. 37 is the code engines 4.x gave BGRA32 (14 from 5.x on, where 37 is unused);
// 6 and 8 have no public name.
constexpr FormatRow kFormats[61] = {
    {"Alpha8", kDds},  // 1
    {"ARGB4444", kDds},  // 2
    {"RGB24", kDds},  // 3
    {"RGBA32", kDds},  // 4
    {"ARGB32", kDds},  // 5
    {"UNUSED06", 0},  // 6
    {"RGB565", kDds},  // 7
    {"UNUSED08", 0},  // 8
    {"R16", kDds},  // 9
    {"DXT1", kDds},  // 10
    {"DXT3", kDds},  // 11
    {"DXT5", kDds},  // 12
    {"RGBA4444", kDds},  // 13
    {"BGRA32", kDds},  // 14
    {"RHalf", 0},  // 15
    {"RGHalf", 0},  // 16
    {"RGBAHalf", 0},  // 17
    {"RFloat", 0},  // 18
    {"RGFloat", 0},  // 19
    {"RGBAFloat", 0},  // 20
    {"YUY2", kPvr},  // 21
    {"WiiIA4", 0},  // 22
    {"WiiIA8", 0},  // 23
    {"WiiRGB565", 0},  // 24
    {"WiiRGB5A3", 0},  // 25
    {"WiiRGBA8", 0},  // 26
    {"WiiCMPR", 0},  // 27
    {"DXT1Crunched", kCrn},  // 28
    {"DXT5Crunched", kCrn},  // 29
    {"PVRTC_RGB2", kKtx | kPvr},  // 30
    {"PVRTC_RGBA2", kKtx | kPvr},  // 31
    {"PVRTC_RGB4", kKtx | kPvr},  // 32
    {"PVRTC_RGBA4", kKtx | kPvr},  // 33
    {"ETC_RGB4", kKtx | kPvr},  // 34
    {"ATC_RGB4", kDds | kKtx},  // 35
    {"ATC_RGBA8", kDds | kKtx},  // 36
    {"BGRA32", kDds},  // 37
    {"ATF_RGB_DXT1", 0},  // 38
    {"ATF_RGBA_JPG", 0},  // 39
    {"ATF_RGB_JPG", 0},  // 40
    {"EAC_R", kKtx | kPvr},  // 41
    {"EAC_R_SIGNED", kKtx | kPvr},  // 42
    {"EAC_RG", kKtx | kPvr},  // 43
    {"EAC_RG_SIGNED", kKtx | kPvr},  // 44
    {"ETC2_RGB", kKtx | kPvr},  // 45
    {"ETC2_RGBA1", kKtx | kPvr},  // 46
    {"ETC2_RGBA8", kKtx | kPvr},  // 47
    {"ASTC_RGB_4x4", kKtx | kPvr},  // 48
    {"ASTC_RGB_5x5", kKtx | kPvr},  // 49
    {"ASTC_RGB_6x6", kKtx | kPvr},  // 50
    {"ASTC_RGB_8x8", kKtx | kPvr},  // 51
    {"ASTC_RGB_10x10", kKtx | kPvr},  // 52
    {"ASTC_RGB_12x12", kKtx | kPvr},  // 53
    {"ASTC_RGBA_4x4", kKtx | kPvr},  // 54
    {"ASTC_RGBA_5x5", kKtx | kPvr},  // 55
    {"ASTC_RGBA_6x6", kKtx | kPvr},  // 56
    {"ASTC_RGBA_8x8", kKtx | kPvr},  // 57
    {"ASTC_RGBA_10x10", kKtx | kPvr},  // 58
    {"ASTC_RGBA_12x12", kKtx | kPvr},  // 59
    {"ETC_RGB4_3DS", kKtx | kPvr},  // 60
    {"ETC_RGBA8_3DS", kKtx | kPvr},  // 61
};

// The codes that engines from 5.5 on number differently: 22 to 27 took new meanings, 62 to 82
// were added. The BC formats and the newer formats of whole pixels go to DDS (those without a
// classic pixel format through its DX10 extension); the crunched ETC codes to CRN; ASTC HDR as
// ASTC. The float formats 15 to 20 keep no container, as in every engine.
struct NewerFormatRow {
  int32_t code;
  FormatRow row;
};
constexpr NewerFormatRow kNewerFormats[] = {
    {22, {"RGB9e5Float", kDds}},
    {23, {"UNUSED23", 0}},
    {24, {"BC6H", kDds}},
    {25, {"BC7", kDds}},
    {26, {"BC4", kDds}},
    {27, {"BC5", kDds}},
    {62, {"RG16", kDds}},
    {63, {"R8", kDds}},
    {64, {"ETC_RGB4Crunched", kCrn}},
    {65, {"ETC2_RGBA8Crunched", kCrn}},
    {66, {"ASTC_HDR_4x4", kKtx | kPvr}},
    {67, {"ASTC_HDR_5x5", kKtx | kPvr}},
    {68, {"ASTC_HDR_6x6", kKtx | kPvr}},
    {69, {"ASTC_HDR_8x8", kKtx | kPvr}},
    {70, {"ASTC_HDR_10x10", kKtx | kPvr}},
    {71, {"ASTC_HDR_12x12", kKtx | kPvr}},
    {72, {"RG32", kDds}},
    {73, {"RGB48", 0}},
    {74, {"RGBA64", kDds}},
    {75, {"R8_SIGNED", kDds}},
    {76, {"RG16_SIGNED", kDds}},
    {77, {"RGB24_SIGNED", 0}},
    {78, {"RGBA32_SIGNED", kDds}},
    {79, {"R16_SIGNED", kDds}},
    {80, {"RG32_SIGNED", kDds}},
    {81, {"RGB48_SIGNED", 0}},
    {82, {"RGBA64_SIGNED", kDds}},
};

const FormatRow* FindFormat(int32_t code, bool newer) {
  if (newer) {
    for (const NewerFormatRow& n : kNewerFormats)
      if (n.code == code) return &n.row;
  }
  return code >= 1 && code <= 61 ? &kFormats[code - 1] : nullptr;
}

bool Supports(const FormatRow* row, uint8_t target) {
  if (!row || target > 4) return false;
  if (target == kTargetAny) return row->targets != 0;
  static constexpr uint8_t kBit[5] = {0, kDds, kCrn, kKtx, kPvr};
  return (row->targets & kBit[target]) != 0;
}

}  // namespace

bool UsesNewerFormatCodes(const EngineVersion& engine) {
  return engine.Known && engine.AtLeast(5, 5);
}

std::string TextureFormatName(int32_t code, const EngineVersion& engine) {
  const FormatRow* row = FindFormat(code, UsesNewerFormatCodes(engine));
  return "id: " + std::to_string(code) + " - " + (row ? row->name : "UNKNOW_FORMAT");
}

bool TextureFormatSupports(int32_t code, uint8_t target, const EngineVersion& engine) {
  return Supports(FindFormat(code, UsesNewerFormatCodes(engine)), target);
}

std::string ClassIdToName(int32_t class_id) {
  if (class_id >= 1 && class_id <= kMaxClassId) {
    uint16_t slot = ClassSlots()[static_cast<size_t>(class_id)];
    if (slot) return kClassNames[slot - 1].name;
  }
  if (class_id <= 0) return "MonoBehaviour id: 114";
  return "UNKNOW_TYPE";
}

std::string TextureFormatName(int32_t code) { return TextureFormatName(code, EngineVersion{}); }

bool TextureFormatSupports(int32_t code, uint8_t target) {
  return TextureFormatSupports(code, target, EngineVersion{});
}

}  // namespace kestrix
