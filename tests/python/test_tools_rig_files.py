"""Fixture types from GDTF files and rigs from MVR files, written here with
pygdtf's and pymvr's own writers; and damaged or hostile files, each refused
in one line, in bounded time and memory, before anything is sent."""

import io
import re
import resource
import subprocess
import sys
import zipfile
from xml.etree import ElementTree

import numpy as np
import pygdtf
import pymvr
import pytest

from movimo_tools import rig
from movimo_tools.cli import main
from test_tools_rig import installed_env

# (geometry, attribute, offsets, default, physical from and to, RealFade seconds)
SPOT = {"Extended": [("Yoke", "Pan", [1, 2], "32768/2", (-270, 270), 1.8),
                     ("Head", "Tilt", [3, 4], "32768/2", (-135, 135), 0),
                     ("Head", "Dimmer", [5], "255/1", (0, 1), 0),
                     ("Head", "Shutter1", [6], "32/1", (0, 1), 0)],
        "Basic": [("Yoke", "Pan", [1], "128/1", (-270, 270), 0),
                  ("Head", "Tilt", [2], "128/1", (-135, 135), 0)]}
# Coarse bytes first, then the fine ones; a default given in fewer bytes.
WASH = {"Standard": [("Head", "Dimmer", [1], "0/1", (0, 1), 0),
                     ("Yoke", "Pan", [2, 4], "21845/2", (0, 450), 2.5),
                     ("Head", "Tilt", [3, 5], "64/1", (-120, 120), 0),
                     ("Head", "Zoom", [6], "128/1", (10, 40), 0),
                     ("Head", "ColorAdd_R", [7], "0/1", (0, 1), 0)]}
PAR = {"Default": [("Head", "Dimmer", [1], "0/1", (0, 1), 0)]}   # a visualiser's placeholder


def gdtf_bytes(name, modes):
    fixture = pygdtf.FixtureType()
    fixture.name = fixture.short_name = fixture.long_name = name
    fixture.manufacturer = "Test"
    fixture.fixture_type_id = "8EAC5323-C63A-4C21-96CF-5DBF4AF049B6"
    fixture.attributes = [pygdtf.Attribute(name=a, pretty=a)
                          for a in sorted({c[1] for channels in modes.values() for c in channels})]
    head = pygdtf.GeometryAxis(name="Head", geometries=[pygdtf.GeometryBeam(name="Beam")])
    fixture.geometries = pygdtf.Geometries([pygdtf.Geometry(
        name="Base", geometries=[pygdtf.GeometryAxis(name="Yoke", geometries=[head])])])

    def channel(geometry, attribute, offsets, default, physical, fade):
        function = pygdtf.ChannelFunction(
            name=attribute, attribute=pygdtf.NodeLink("Attributes", attribute),
            default=pygdtf.DmxValue(default), physical_from=pygdtf.PhysicalValue(physical[0]),
            physical_to=pygdtf.PhysicalValue(physical[1]), real_fade=fade)
        logical = pygdtf.LogicalChannel(attribute=pygdtf.NodeLink("Attributes", attribute),
                                        channel_functions=[function])
        return pygdtf.DmxChannel(offset=offsets, geometry=geometry, logical_channels=[logical],
                                 initial_function=pygdtf.NodeLink(
                                     None, f"{geometry}_{attribute}.{attribute}.{attribute}"))

    fixture.dmx_modes = pygdtf.DmxModes([
        pygdtf.DmxMode(name=mode, geometry="Base", _dmx_channels=[channel(*c) for c in channels])
        for mode, channels in modes.items()])
    return zipped([("description.xml", ElementTree.tostring(
        fixture.to_xml(), encoding="UTF-8", xml_declaration=True))])


def zipped(members, compression=zipfile.ZIP_DEFLATED):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as archive:
        for name, data in members:
            archive.writestr(name, data)
    return buffer.getvalue()


def members_of(data):
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        return [(name, archive.read(name)) for name in archive.namelist()]


PATCH = """\
[types.spot]
gdtf = "types/Test@Spot.gdtf"
mode = "Extended"
values = { dimmer = 200 }
tilt_speed = 150

[types.wash]
gdtf = "types/Test@Wash.gdtf"

[[fixtures]]
name = "spot"
type = "spot"
universe = 1
address = 1

[[fixtures]]
name = "wash"
type = "wash"
universe = 1
address = 7
"""


@pytest.fixture
def types_folder(tmp_path):
    (tmp_path / "types").mkdir()
    (tmp_path / "types" / "Test@Spot.gdtf").write_bytes(gdtf_bytes("Spot", SPOT))
    (tmp_path / "types" / "Test@Wash.gdtf").write_bytes(gdtf_bytes("Wash", WASH))
    (tmp_path / "rig.toml").write_text(PATCH)
    return tmp_path


def test_a_gdtf_type_gives_channels_ranges_home_and_speeds_and_the_patch_wins(types_folder):
    loaded = rig.load_patch(types_folder / "rig.toml")
    # The spot's bytes in order; the wash's coarse bytes before its fine ones.
    assert loaded.pan.coarse.tolist() == [0, 7] and loaded.pan.fine.tolist() == [1, 9]
    assert loaded.tilt.coarse.tolist() == [2, 8] and loaded.tilt.fine.tolist() == [3, 10]
    assert loaded.pan.range.tolist() == [540, 450] and loaded.tilt.range.tolist() == [270, 240]
    # RealFade over the range where the file gives it; the patch's; the default.
    assert loaded.pan.speed.tolist() == [300, 180] and loaded.tilt.speed.tolist() == [150, 120]
    assert loaded.pan.amplitude.tolist() == [135, 112.5]     # a quarter of each range
    # Home is each channel's default: the home frame gives back the file's
    # defaults byte for byte (64/1 on two bytes is 64 * 257), but the dimmer
    # the patch set.
    assert loaded.home_frame()[0, :13].tolist() == [128, 0, 128, 0, 200, 32,
                                                     0, 85, 64, 85, 64, 128, 0]
    spot, wash = loaded.notes
    assert spot.startswith("type 'spot' (") and spot.endswith(
        "Test@Spot.gdtf, mode 'Extended'): 1 fixture (spot); drives pan, pan_fine, tilt, "
        "tilt_fine; holds dimmer 200, shutter1 32; pan 540° at 300°/s (file), tilt 270° at "
        "150°/s (patch); amplitude 135°, 67.5° (default); home 270°, 135° (file)")
    assert "mode 'Standard'" in wash and "holds dimmer 0, zoom 128, color_add_r 0;" in wash


def write_rig(folder, side=None):
    """A rig of 40 fixtures in three layers: 13 spots at the front; 13
    washes behind, held by a group 4 m further back; 14 on a layer turned a
    quarter round, 10 m to the right: 10 spots, 2 placeholder pars, one
    fixture without an address and one whose GDTF file is not in the file."""
    def fixture(name, gdtf, mode, x, universe=None, address=None):
        addresses = ([pymvr.Address(dmx_break=0, universe=universe, address=address)]
                     if universe else [])
        return pymvr.Fixture(name=name, gdtf_spec=gdtf, gdtf_mode=mode,
                             matrix=pymvr.Matrix([[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0],
                                                  [1000.0 * x, 0.0, 6000.0, 0]]),
                             addresses=pymvr.Addresses(addresses=addresses))

    def offset(x, y, turned=False):
        u, v = ([0.0, 1.0, 0.0], [-1.0, 0.0, 0.0]) if turned else ([1.0, 0, 0], [0, 1.0, 0])
        return pymvr.Matrix([[*u, 0], [*v, 0], [0.0, 0.0, 1.0, 0], [x, y, 0.0, 0]])

    front = [fixture("Spot", "Test@Spot.gdtf", "Extended", i, 1, 1 + 6 * i) for i in range(13)]
    washes = [fixture(f"Wash {i + 1}", "Test@Wash.gdtf", "Standard", i, 2, 1 + 7 * i)
              for i in range(13)]
    side_fixtures = ([fixture(f"Side {i + 1}", "Test@Spot.gdtf", "Extended", i, 3, 1 + 6 * i)
                      for i in range(10)]
                     + [fixture(f"Par {i + 1}", "Test@Par.gdtf", "Default", 10 + i, 3, 100 + 3 * i)
                        for i in range(2)]
                     + [fixture("Hazer", "Test@Spot.gdtf", "Extended", 12),
                        fixture("Strobe", "Test@Strobe.gdtf", "Default", 13, 3, 200)])
    layers = [
        pymvr.Layer(name="Front", child_list=pymvr.ChildList(fixtures=front)),
        pymvr.Layer(name="Back", child_list=pymvr.ChildList(group_objects=[pymvr.GroupObject(
            name="Back wash", matrix=offset(0.0, 4000.0),
            child_list=pymvr.ChildList(fixtures=washes))])),
        pymvr.Layer(name="Side", matrix=offset(10000.0, 0.0, turned=True),
                    child_list=pymvr.ChildList(fixtures=side_fixtures)),
    ]
    writer = pymvr.GeneralSceneDescriptionWriter()
    writer.serialize_scene(pymvr.Scene(layers=pymvr.Layers(layers=layers)))
    for name, modes in (("Spot", SPOT), ("Wash", WASH), ("Par", PAR)):
        (folder / f"Test@{name}.gdtf").write_bytes(gdtf_bytes(name, modes))
        writer.files_list.append((str(folder / f"Test@{name}.gdtf"), f"Test@{name}.gdtf"))
    path = folder / "rig.mvr"
    writer.write_mvr(str(path))
    # The writer gives absolute addresses (universe 2, address 8 is 520); one
    # fixture takes the "universe.address" form instead.
    members = members_of(path.read_bytes())
    scene = members[0][1].decode()
    assert scene.count(">520<") == 1
    path.write_bytes(zipped([(members[0][0], scene.replace(">520<", ">2.8<").encode()),
                             *members[1:]]))
    if side is not None:
        (folder / "rig.mvr.toml").write_text(side)
    return path


SIDE = """\
[types."Test@Spot"]
tilt_speed = 90

[types."Test@Par"]          # the placeholder, typed by hand
channels = ["dimmer", "pan", "tilt"]
pan_range = 360
tilt_range = 180
pan_speed = 100
tilt_speed = 100
amplitude = [30, 20]

[[fixtures]]
name = "Spot #2"
home = [100, 100]

[[groups]]
name = "Back wash"
pattern = "lfo_breathe"
spread = "none"

[[groups]]
name = "pars"
fixtures = ["Par 1", "Par 2"]
"""


def test_an_mvr_rig_reads_addresses_positions_and_groups_and_a_side_file_adds_to_it(tmp_path):
    loaded = rig.load_patch(write_rig(tmp_path))
    names = list(loaded.names)
    assert len(loaded) == 36 and names[:3] == ["Spot", "Spot #2", "Spot #3"]
    assert names[26:] == [f"Side {i + 1}" for i in range(10)]
    wash = names.index("Wash 2")
    assert (loaded.universe[wash], loaded.address[wash]) == (2, 8)     # "2.8"
    assert (loaded.universe[-1], loaded.address[-1]) == (3, 55)        # written as 1079
    # Millimetres to metres through the group's and the turned layer's matrices.
    assert loaded.positions[wash].tolist() == [1, 4]
    np.testing.assert_allclose(loaded.positions[-1], [10, 9])
    assert [(g.name, len(g.members)) for g in loaded.groups] == [
        ("Front", 13), ("Back wash", 13), ("Side", 10)]
    found, spot, wash_type, placeholders, pars, no_address, not_packed, shared = loaded.notes
    assert found.endswith("rig.mvr: 40 fixtures: 36 moving heads, 4 left alone")
    assert spot.startswith("type 'Test@Spot' (") and "23 fixtures (Spot, Spot #2," in spot
    assert "type 'Test@Wash'" in wash_type and "13 fixtures" in wash_type
    assert placeholders == ("no pan or tilt in the GDTF mode of Test@Par mode 'Default' (2 "
                            "fixtures): left alone; if they are moving heads, give their type's "
                            "channels in rig.mvr.toml as [types.NAME]")
    assert pars == "left alone (no pan or tilt in their GDTF mode): Par 1, Par 2"
    assert no_address == "left alone (no DMX address): Hazer"
    assert not_packed == ("left alone (GDTF file 'Test@Strobe.gdtf' is not in the MVR file): "
                          "Strobe")
    assert shared.startswith("note: 3 fixtures left alone are patched in universes movimo sends")

    (tmp_path / "rig.mvr.toml").write_text(SIDE)
    loaded = rig.load_patch(tmp_path / "rig.mvr")
    assert loaded.source.endswith("rig.mvr (with rig.mvr.toml)") and len(loaded) == 38
    assert loaded.tilt.speed[0] == 90 and loaded.home_degrees()[1].tolist() == [100, 100]
    par = loaded.names.index("Par 1")
    assert loaded.pan.coarse[par] % 512 == 100 and loaded.pan.range[par] == 360
    groups = {g.name: g for g in loaded.groups}
    assert groups["Back wash"].pattern == "lfo_breathe" and groups["Back wash"].spread == "none"
    assert [loaded.names[i] for i in groups["pars"].members] == ["Par 1", "Par 2"]
    assert len(groups["Side"].members) == 10


def test_the_dry_run_and_the_preview_of_an_mvr_rig(tmp_path, capsys):
    path = write_rig(tmp_path)
    assert main(["dmx", "helix", "--patch", str(path), "--bpm", "120", "--dry-run",
                 "--frames", "1"]) == 0
    out = capsys.readouterr().out.splitlines()
    assert out[0] == f"{path}: 40 fixtures: 36 moving heads, 4 left alone"
    assert out[8].startswith("helix: too fast at 120 bpm for 36 of 36 fixtures")
    assert [line.split(":")[0] for line in out[9:12]] == [f"universe {u}" for u in (1, 2, 3)]
    spot = next(line for line in out if line.startswith("  Spot "))
    assert re.fullmatch(r"  Spot {6}pan .*°  u1/1: \d+ \d+ \d+ \d+ 255 32", spot)
    # The speed report, the universes, the note on the glide, one frame of 36 heads.
    assert len(out) == 8 + 1 + 3 + 1 + 1 + 36 + 1
    pytest.importorskip("matplotlib")
    assert main(["preview", "helix", "--patch", str(path), "-o", str(tmp_path / "rig.png")]) == 0
    assert (tmp_path / "rig.png").stat().st_size > 0


def damaged(kind):
    """(file to damage, bytes, patch file to load) for one kind of damage."""
    good = gdtf_bytes("Spot", SPOT)
    description = members_of(good)[0][1]
    stored = zipfile.ZIP_STORED
    return {
        "not a zip": b"GDTF? no",
        "truncated": good[:len(good) // 2],
        # 20 MiB of spaces packed into 20 KiB.
        "zip bomb": zipped([("description.xml", b" " * (20 << 20))]),
        "../ member": zipped([("description.xml", description), ("../../evil.sh", b"")]),
        "entities": zipped([("description.xml", b'<!DOCTYPE l [<!ENTITY a "aaaaaaaaaa">'
                             b'<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;">]><GDTF>&b;&b;</GDTF>')],
                           stored),
        "depth": zipped([("description.xml", b"<a>" * 100000 + b"</a>" * 100000)], stored),
        # A default of ten billion bytes: the library shifts by the width.
        "wide value": zipped([("description.xml", description.replace(
            b'Default="32768/2"', b'Default="1/9999999999"'))]),
        # Thousands of references to a geometry of channels the library would copy.
        "references": zipped([("description.xml", re.sub(
            rb"<Geometries>", b"<Geometries>" + b'<GeometryReference Name="r" Geometry="Head"/>'
            * 3000, description))]),
    }[kind]


@pytest.mark.parametrize("target, kind, message", [
    ("gdtf", "not a zip", "Test@Spot.gdtf: not a zip archive (or cut short)"),
    ("gdtf", "truncated", "Test@Spot.gdtf: not a zip archive (or cut short)"),
    ("gdtf", "zip bomb", "description.xml: unpacks to 1028 times its packed size: refused as"),
    ("gdtf", "../ member", "member '../../evil.sh' has an absolute path or climbs out of the"),
    ("gdtf", "missing mode", "Test@Spot.gdtf: has no DMX mode 'Nope', which fixture 'spot' names"),
    ("gdtf", "entities", "description.xml: has a DOCTYPE declaration (entities are refused)"),
    ("gdtf", "depth", "description.xml: elements nested more than 100 deep"),
    ("gdtf", "wide value", "description.xml: ChannelFunction Default='1/9999999999' is out of"),
    ("gdtf", "references", "description.xml: 12006 DMX channels (12000 of them copies for "
                           "geometry references) in 3004 geometries: more than is read"),
    ("mvr", "entities", "rig.mvr: GeneralSceneDescription.xml: has a DOCTYPE declaration"),
    ("mvr", "truncated", "rig.mvr: Test@Spot.gdtf: not a zip archive (or cut short)"),
    ("mvr", "overlap", "rig.mvr (with rig.mvr.toml): fixture 'extra': address: channels 3-4 of "
                       "universe 1 overlap fixture 'Spot' (1-6)"),
])
def test_bad_files_are_refused_in_one_line_in_bounded_time_and_memory(
        types_folder, target, kind, message):
    if target == "gdtf":
        path = types_folder / "rig.toml"
        if kind == "missing mode":
            path.write_text(PATCH.replace('"Extended"', '"Nope"'))
        else:
            (types_folder / "types" / "Test@Spot.gdtf").write_bytes(damaged(kind))
    else:
        path = write_rig(types_folder, side='[[fixtures]]\nname = "extra"\ntype = "Test@Spot"\n'
                                             'mode = "Basic"\nuniverse = 1\naddress = 3\n')
        if kind != "overlap":
            members = dict(members_of(path.read_bytes()))
            if kind == "entities":
                members["GeneralSceneDescription.xml"] = members_of(damaged(kind))[0][1]
            else:
                members["Test@Spot.gdtf"] = damaged(kind)
            path.write_bytes(zipped(members.items()))
    done = subprocess.run([sys.executable, "-m", "movimo_tools", "dmx", "helix", "--patch",
                           str(path), "--bpm", "120", "--dry-run"], capture_output=True, text=True,
                          env=installed_env(), timeout=60, check=False,
                          preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS,
                                                                (2 << 30, 2 << 30)))
    assert (done.returncode, done.stdout) == (1, "")
    assert done.stderr.startswith("movimo: error: ") and message in done.stderr
    assert done.stderr.count("\n") == 1 and done.stderr[:-1].isprintable()
