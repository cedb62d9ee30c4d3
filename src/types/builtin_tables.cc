#include "types/builtin_tables.h"

#include "types/class_ids.h"

namespace kestrix {

const BuiltInClass kBuiltInClasses[] = {
    {1, "GameObject"},
    {4, "Transform"},
    {kClassMaterial, "Material"},
    {kClassTexture2D, "Texture2D"},
    // From 5.5 on a shader keeps its parsed form, whose layout the tables do not hold.
    {kClassShader, "Shader", 0, 0, 5, 5},
    {kClassTextAsset, "TextAsset"},
    {kClassAudioClip, "AudioClip"},
    {kClassCubemap, "Cubemap"},
    {115, "MonoScript"},
    {kClassFont, "Font"},
    {kClassMovieTexture, "MovieTexture"},
    {224, "RectTransform"},
    {33, "MeshFilter"},
    {222, "CanvasRenderer"},
    {23, "MeshRenderer"},
    {212, "SpriteRenderer"},
    {213, "Sprite"},
    // Meshes of 3.5 to 4.2 are left to the fixed readers.
    {kClassMesh, "Mesh#arrays", 3, 0, 3, 5},
    {kClassMesh, "Mesh", 4, 3},
    {687078895, "SpriteAtlas", 2017, 1},
};
const size_t kBuiltInClassCount = sizeof(kBuiltInClasses) / sizeof(kBuiltInClasses[0]);

// What each class serializes, engine by engine. A block is a class or a structure; its members
// are "<type> <name>[!][release] [@from][-until]": "!" pads to 4 bytes after the field (from the
// release given, else always), the range names the releases that have the field (from
// inclusive, until exclusive), and an "align" line pads after whichever field came last in that
// release. "Child < Base" starts with Base's members; "Type#variant" is a second block of the
// engine's Type. Strings are always padded, and from 2017.1 on every array is; vectors, maps,
// pairs and PPtrs are spelled as templates, "~" stands for a space in a name. Where the corpus
// has no object of a release, its rows follow the public record of when fields came and went.
const char kBuiltInTableText[] = R"(
# Structures every class shares.
Vector2f
 float x
 float y
Vector3f
 float x
 float y
 float z
Vector4f
 float x
 float y
 float z
 float w
Quaternionf
 float x
 float y
 float z
 float w
Rectf
 float x
 float y
 float width
 float height
ColorRGBA
 float r
 float g
 float b
 float a
Hash128
 UInt8 bytes[0]
 UInt8 bytes[1]
 UInt8 bytes[2]
 UInt8 bytes[3]
 UInt8 bytes[4]
 UInt8 bytes[5]
 UInt8 bytes[6]
 UInt8 bytes[7]
 UInt8 bytes[8]
 UInt8 bytes[9]
 UInt8 bytes[10]
 UInt8 bytes[11]
 UInt8 bytes[12]
 UInt8 bytes[13]
 UInt8 bytes[14]
 UInt8 bytes[15]

# Scene objects.
GameObject
 vector<ComponentPair> m_Component!2017.1 @5.5
 vector<pair<int,PPtr<Component>>> m_Component @-5.5
 unsigned int m_Layer
 string m_Name
 UInt16 m_Tag
 bool m_IsActive
ComponentPair
 PPtr<Component> component
Transform
 PPtr<GameObject> m_GameObject
 Quaternionf m_LocalRotation
 Vector3f m_LocalPosition
 Vector3f m_LocalScale!2022.1
 vector<PPtr<Transform>> m_Children!2017.1
 PPtr<Transform> m_Father
RectTransform < Transform
 Vector2f m_AnchorMin
 Vector2f m_AnchorMax
 Vector2f m_AnchoredPosition
 Vector2f m_SizeDelta
 Vector2f m_Pivot
MeshFilter
 PPtr<GameObject> m_GameObject
 PPtr<Mesh> m_Mesh
# What every renderer holds, then the kinds.
Renderer
 PPtr<GameObject> m_GameObject
 bool m_Enabled!5.0-5.4
 bool m_CastShadows @-5.0
 UInt8 m_CastShadows @5.0
 bool m_ReceiveShadows!5.0 @-5.4
 UInt8 m_ReceiveShadows @5.4
 UInt8 m_DynamicOccludee @2017.2
 UInt8 m_StaticShadowCaster @2021.1
 UInt8 m_MotionVectors @5.4
 UInt8 m_LightProbeUsage @5.4
 UInt8 m_ReflectionProbeUsage @5.4
 UInt8 m_RayTracingMode @2019.3
 UInt8 m_RayTraceProcedural @2020.1
 UInt8 m_LightmapIndex @-5.0
 align
 unsigned int m_RenderingLayerMask @2018.1
 int m_RendererPriority @2018.3
 UInt16 m_LightmapIndex @5.0
 UInt16 m_LightmapIndexDynamic @5.0
 Vector4f m_LightmapTilingOffset
 Vector4f m_LightmapTilingOffsetDynamic @5.0
 vector<PPtr<Material>> m_Materials
 vector<unsigned int> m_SubsetIndices @-5.5
 StaticBatchInfo m_StaticBatchInfo @5.5
 PPtr<Transform> m_StaticBatchRoot
 bool m_UseLightProbes! @3.5-5.4
 int m_ReflectionProbeUsage @5.0-5.4
 PPtr<Transform> m_LightProbeAnchor @3.5-5.0
 PPtr<Transform> m_ProbeAnchor!-5.4 @5.0
 PPtr<GameObject> m_LightProbeVolumeOverride! @5.4
 SInt16 m_SortingLayer @4.3-4.5
 unsigned int m_SortingLayerID @4.5-5.0
 int m_SortingLayerID @5.0
 SInt16 m_SortingLayer @5.6
 SInt16 m_SortingOrder! @4.3
StaticBatchInfo
 UInt16 firstSubMesh
 UInt16 subMeshCount
MeshRenderer < Renderer
 PPtr<Mesh> m_AdditionalVertexStreams @5.0
 PPtr<Mesh> m_EnlightenVertexStream @2020.1
SpriteRenderer < Renderer
 PPtr<Sprite> m_Sprite
 ColorRGBA m_Color
 bool m_FlipX @5.3
 bool m_FlipY! @5.3
 int m_DrawMode @5.6
 Vector2f m_Size @5.6
 float m_AdaptiveModeThreshold @5.6
 int m_SpriteTileMode @5.6
 bool m_WasSpriteAssigned! @2017.1
 int m_MaskInteraction @2017.1
 int m_SpriteSortPoint @2019.1
CanvasRenderer
 PPtr<GameObject> m_GameObject
 bool m_CullTransparentMesh @2018.2
MonoScript
 string m_Name
 int m_ExecutionOrder
 unsigned int m_PropertiesHash @-5.0
 Hash128 m_PropertiesHash @5.0
 string m_ClassName
 string m_Namespace
 string m_AssemblyName
 bool m_IsEditorScript @-2018.2

# Assets.
TextAsset
 string m_Name
 string m_Script
 string m_PathName @-2017.1
Shader
 string m_Name
 string m_Script
 string m_PathName
 unsigned int decompressedSize @5.3
 vector<UInt8> m_SubProgramBlob! @5.3
 vector<PPtr<Shader>> m_Dependencies @4.0
 bool m_ShaderIsBaked! @4.0
AudioClip
 string m_Name
 int m_Format @-5.0
 int m_Type @-5.0
 bool m_3D @-5.0
 bool m_UseHardware @-5.0
 align @-5.0
 int m_Stream @-5.0
 vector<UInt8> m_AudioData! @-5.0
 int m_LoadType @5.0
 int m_Channels @5.0
 int m_Frequency @5.0
 int m_BitsPerSample @5.0
 float m_Length @5.0
 bool m_IsTrackerFormat @5.0
 bool m_Ambisonic @2017.1
 align @5.0
 int m_SubsoundIndex @5.0
 bool m_PreloadAudioData @5.0
 bool m_LoadInBackground @5.0
 bool m_Legacy3D @5.0
 align @5.0
 StreamedResource m_Resource @5.0
 int m_CompressionFormat! @5.0
StreamedResource
 string m_Source
 UInt64 m_Offset @-2020.1
 FileSize m_Offset @2020.1
 UInt64 m_Size

# Textures: what every texture starts with, then the kinds.
Texture
 string m_Name
 int m_ForcedFallbackFormat @2017.3-2023.2
 bool m_DownscaleFallback @2017.3-2023.2
 bool m_IsAlphaChannelOptional @2020.2
 align @2017.3
Texture2D < Texture
 int m_Width
 int m_Height
 int m_CompleteImageSize
 int m_MipsStripped @2020.1
 int m_TextureFormat
 bool m_MipMap @-5.2
 int m_MipCount @5.2
 bool m_IsReadable
 bool m_IsPreProcessed @2020.1
 bool m_IgnoreMipmapLimit @2022.2
 align @2022.2
 string m_MipmapLimitGroupName @2022.2
 bool m_IgnoreMasterTextureLimit @2019.3-2022.2
 bool m_ReadAllowed @-5.5
 bool m_StreamingMipmaps @2018.2
 align
 int m_StreamingMipmapsPriority @2018.2
 int m_ImageCount
 int m_TextureDimension
 GLTextureSettings m_TextureSettings
 int m_LightmapFormat
 int m_ColorSpace @3.5
 vector<UInt8> m_PlatformBlob! @2020.2
 TypelessData image~data!
 StreamingInfo m_StreamData @5.3
GLTextureSettings
 int m_FilterMode
 int m_Aniso
 float m_MipBias
 int m_WrapMode @-2017.1
 int m_WrapU @2017.1
 int m_WrapV @2017.1
 int m_WrapW @2017.1
StreamingInfo
 unsigned int offset @-2020.1
 UInt64 offset @2020.1
 unsigned int size
 string path
Cubemap < Texture2D
 vector<PPtr<Texture2D>> m_SourceTextures!
MovieTexture < Texture
 bool m_Loop!
 PPtr<AudioClip> m_AudioClip
 vector<UInt8> m_MovieData!
 int m_ColorSpace @3.5

Material
 string m_Name
 PPtr<Shader> m_Shader
 vector<string> m_ShaderKeywords @4.1-5.0
 string m_ShaderKeywords @5.0-2021.3
 vector<string> m_ValidKeywords @2021.3
 vector<string> m_InvalidKeywords @2021.3
 unsigned int m_LightmapFlags @5.0
 bool m_EnableInstancingVariants @5.6
 bool m_DoubleSidedGI @2017.1
 align @5.6
 int m_CustomRenderQueue @4.3
 map<string,string> stringTagMap @5.1
 vector<string> disabledShaderPasses @5.6
 UnityPropertySheet m_SavedProperties
 vector<BuildTextureStackReference> m_BuildTextureStacks @2020.1
UnityPropertySheet
 map<FastPropertyName,UnityTexEnv> m_TexEnvs @-2017.3
 map<FastPropertyName,float> m_Floats @-2017.3
 map<FastPropertyName,ColorRGBA> m_Colors @-2017.3
 vector<pair<string,UnityTexEnv>> m_TexEnvs @2017.3
 vector<pair<string,int>> m_Ints @2021.1
 vector<pair<string,float>> m_Floats @2017.3
 vector<pair<string,ColorRGBA>> m_Colors @2017.3
FastPropertyName
 string name
UnityTexEnv
 PPtr<Texture> m_Texture
 Vector2f m_Scale
 Vector2f m_Offset
BuildTextureStackReference
 string groupName
 string itemName

Font
 string m_Name
 float m_LineSpacing @5.5
 PPtr<Material> m_DefaultMaterial @5.5
 float m_FontSize @5.5
 PPtr<Texture> m_Texture @5.5
 int m_AsciiStartOffset
 int m_FontCountX @-4.0
 int m_FontCountY @-4.0
 float m_Kerning @-5.5
 float m_Tracking @5.5
 float m_LineSpacing @-5.5
 vector<pair<int,float>> m_PerCharacterKerning @-4.0
 int m_CharacterSpacing @4.0
 int m_CharacterPadding @4.0
 int m_ConvertCase
 PPtr<Material> m_DefaultMaterial @-5.5
 vector<CharacterInfo> m_CharacterRects
 PPtr<Texture> m_Texture @-5.5
 map<pair<UInt16,UInt16>,float> m_KerningValues
 bool m_GridFont! @-4.0
 float m_PixelScale @4.0
 vector<char> m_FontData!
 float m_FontSize @-5.5
 float m_Ascent
 float m_Descent @5.5
 unsigned int m_DefaultStyle
 vector<string> m_FontNames
 vector<PPtr<Font>> m_FallbackFonts @4.0
 int m_FontRenderingMode @4.0
 bool m_UseLegacyBoundsCalculation @2017.1
 bool m_ShouldRoundAdvanceValue @2018.1
CharacterInfo
 unsigned int index
 Rectf uv
 Rectf vert
 float width @-5.5
 float advance @5.5
 bool flipped! @4.0
Sprite
 string m_Name
 Rectf m_Rect
 Vector2f m_Offset
 Vector4f m_Border @4.5
 float m_PixelsToUnits
 Vector2f m_Pivot @5.4.2
 unsigned int m_Extrude
 bool m_IsPolygon! @5.3
 pair<GUID,SInt64> m_RenderDataKey @2017.1
 vector<string> m_AtlasTags! @2017.1
 PPtr<SpriteAtlas> m_SpriteAtlas! @2017.1
 SpriteRenderData m_RD!
 vector<vector<Vector2f>> m_PhysicsShape @2017.1
 vector<SpriteBone> m_Bones @2018.1
 vector<PPtr<MonoBehaviour>> m_ScriptableObjects @2023.1
SpriteAtlas
 string m_Name
 vector<PPtr<Sprite>> m_PackedSprites
 vector<string> m_PackedSpriteNamesToIndex
 map<pair<GUID,SInt64>,SpriteAtlasData> m_RenderDataMap
 string m_Tag
 bool m_IsVariant!
SpriteAtlasData
 PPtr<Texture2D> texture
 PPtr<Texture2D> alphaTexture
 Rectf textureRect
 Vector2f textureRectOffset
 Vector2f atlasRectOffset @2017.2
 Vector4f uvTransform
 float downscaleMultiplier
 unsigned int settingsRaw
 vector<SecondarySpriteTexture> secondaryTextures @2020.2
SpriteRenderData
 PPtr<Texture2D> texture
 PPtr<Texture2D> alphaTexture @5.2
 vector<SecondarySpriteTexture> secondaryTextures @2019.1
 vector<SubMesh> m_SubMeshes @5.6
 vector<UInt8> m_IndexBuffer! @5.6
 VertexData m_VertexData!2017.1 @5.6
 vector<SpriteVertex> vertices @-5.6
 vector<UInt16> indices! @-5.6
 vector<Matrix4x4f> m_Bindpose @2018.1
 vector<BoneWeights4> m_SourceSkin @2018.1-2018.2
 Rectf textureRect
 Vector2f textureRectOffset
 Vector2f atlasRectOffset @5.6
 unsigned int settingsRaw
 Vector4f uvTransform @4.5
 float downscaleMultiplier @2017.1
SecondarySpriteTexture
 PPtr<Texture2D> texture
 string name
SpriteVertex
 Vector3f pos
 Vector2f uv @-4.4
SpriteBone
 string name
 Vector3f position
 Quaternionf rotation
 float length
 int parentId
GUID
 unsigned int data[0]
 unsigned int data[1]
 unsigned int data[2]
 unsigned int data[3]
BoneWeights4
 float weight[0]
 float weight[1]
 float weight[2]
 float weight[3]
 int boneIndex[0]
 int boneIndex[1]
 int boneIndex[2]
 int boneIndex[3]
Matrix4x4f
 float e00
 float e01
 float e02
 float e03
 float e10
 float e11
 float e12
 float e13
 float e20
 float e21
 float e22
 float e23
 float e30
 float e31
 float e32
 float e33

# Mesh parts that sprites share.
SubMesh
 unsigned int firstByte
 unsigned int indexCount
 int isTriStrip @-4.0
 unsigned int triangleCount @-4.0
 int topology @4.0
 unsigned int baseVertex @2017.3
 unsigned int firstVertex
 unsigned int vertexCount
 AABB localAABB
AABB
 Vector3f m_Center
 Vector3f m_Extent
VertexData
 unsigned int m_CurrentChannels @-2017.1
 int m_CurrentChannels @2017.1-2018.1
 unsigned int m_VertexCount
 vector<ChannelInfo> m_Channels
 vector<StreamInfo> m_Streams @-5.0
 TypelessData m_DataSize!
StreamInfo
 unsigned int channelMask
 unsigned int offset
 UInt8 stride
 UInt8 dividerOp
 UInt16 frequency
ChannelInfo
 UInt8 stream
 UInt8 offset
 UInt8 format
 UInt8 dimension
# Meshes: one vertex array per attribute up to 3.4, vertex data with channels after.
Mesh#arrays
 string m_Name
 int m_Use16BitIndices
 vector<SubMesh> m_SubMeshes
 UInt8 m_MeshCompression!
 vector<UInt8> m_IndexBuffer!
 vector<Vector3f> m_Vertices
 vector<BoneInfluence> m_Skin
 vector<Matrix4x4f> m_BindPose
 vector<Vector2f> m_UV
 vector<Vector2f> m_UV1
 vector<Vector4f> m_Tangents
 vector<Vector3f> m_Normals
 CompressedMesh m_CompressedMesh
 AABB m_LocalAABB
 vector<ColorRGBA32> m_Colors
 vector<unsigned int> m_CollisionTriangles
 int m_CollisionVertexCount
 int m_MeshUsageFlags
Mesh
 string m_Name
 vector<SubMesh> m_SubMeshes
 BlendShapeData m_Shapes
 vector<Matrix4x4f> m_BindPose
 vector<unsigned int> m_BoneNameHashes
 unsigned int m_RootBoneNameHash
 vector<MinMaxAABB> m_BonesAABB @2019.1
 VariableBoneCountWeights m_VariableBoneCountWeights @2019.1
 UInt8 m_MeshCompression
 UInt8 m_StreamCompression @-5.0
 bool m_IsReadable
 bool m_KeepVertices
 bool m_KeepIndices!
 int m_IndexFormat @2017.3
 vector<UInt8> m_IndexBuffer!
 vector<BoneInfluence> m_Skin @-2017.1
 vector<BoneWeights4> m_Skin @2017.1-2018.2
 VertexData m_VertexData!
 CompressedMesh m_CompressedMesh
 AABB m_LocalAABB
 int m_MeshUsageFlags
 int m_CookingOptions @2022.1
 vector<UInt8> m_BakedConvexCollisionMesh! @5.0
 vector<UInt8> m_BakedTriangleCollisionMesh! @5.0
 float m_MeshMetrics[0] @2018.2
 float m_MeshMetrics[1] @2018.2
 StreamingInfo m_StreamData! @2019.2
 MeshLodInfo m_MeshLodInfo @6000.2
MeshLodInfo
 LodSelectionCurve m_LodSelectionCurve
 int m_NumLevels
 vector<SubMeshLodInfo> m_SubMeshes
LodSelectionCurve
 float m_LodSlope
 float m_LodBias
SubMeshLodInfo
 vector<MeshLodRange> m_Levels
MeshLodRange
 unsigned int m_IndexStart
 unsigned int m_IndexCount
BoneInfluence
 float weight[0]
 float weight[1]
 float weight[2]
 float weight[3]
 int boneIndex[0]
 int boneIndex[1]
 int boneIndex[2]
 int boneIndex[3]
ColorRGBA32
 unsigned int rgba
MinMaxAABB
 Vector3f m_Min
 Vector3f m_Max
VariableBoneCountWeights
 vector<unsigned int> m_Data
BlendShapeData
 vector<BlendShapeVertex> vertices
 vector<MeshBlendShape> shapes
 vector<MeshBlendShapeChannel> channels
 vector<float> fullWeights
BlendShapeVertex
 Vector3f vertex
 Vector3f normal
 Vector3f tangent
 unsigned int index
MeshBlendShape
 unsigned int firstVertex
 unsigned int vertexCount
 bool hasNormals
 bool hasTangents!
MeshBlendShapeChannel
 string name
 unsigned int nameHash
 int frameIndex
 int frameCount
# Compressed meshes: packed vectors with a value range, and without one.
CompressedMesh
 PackedBitVector m_Vertices
 PackedBitVector m_UV
 PackedBitVector m_BindPoses @-5.0
 PackedBitVector m_Normals
 PackedBitVector m_Tangents
 PackedBitVector#bits m_Weights
 PackedBitVector#bits m_NormalSigns
 PackedBitVector#bits m_TangentSigns
 PackedBitVector m_FloatColors @5.0
 PackedBitVector#bits m_BoneIndices
 PackedBitVector#bits m_Triangles
 PackedBitVector#bits m_Colors @3.5-5.0
 unsigned int m_UVInfo @5.0
PackedBitVector
 unsigned int m_NumItems
 float m_Range
 float m_Start
 vector<UInt8> m_Data!
 UInt8 m_BitSize!
PackedBitVector#bits
 unsigned int m_NumItems
 vector<UInt8> m_Data!
 UInt8 m_BitSize!
)";

}  // namespace kestrix
