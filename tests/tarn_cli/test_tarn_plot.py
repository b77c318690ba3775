"""tarn plot: a recording made by tarn record turned into a picture with every group's panels."""

import struct
import sys

import pytest

from tarn_cli_support import TOOL_DIR, one_error_line, record_whole, tarn

TAB_BLUE, TAB_ORANGE, TAB_GREEN = (31, 119, 180), (255, 127, 14), (44, 160, 44)


def png_size(path):
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    width, height = struct.unpack(">II", data[16:24])
    return width, height


def colour_counts(path):
    """Pixels that are not near white, and pixels of the first three line colours."""
    import matplotlib.image
    import numpy as np

    rgb = (matplotlib.image.imread(str(path))[..., :3] * 255).round().astype(int)
    ink = int((rgb.min(axis=2) < 200).sum())
    lines = {c: int((np.abs(rgb - np.array(c)).max(axis=2) <= 2).sum()) for c in (TAB_BLUE, TAB_ORANGE, TAB_GREEN)}
    return ink, lines, rgb.shape[0] * rgb.shape[1]


@pytest.fixture(scope="module")
def recordings(tmp_path_factory, dual_robot):
    folder = tmp_path_factory.mktemp("plot")
    out = {}
    for name in ("run.csv", "run.parquet", "run.mcap"):
        done = record_whole(dual_robot.serial, "--duration", "2", "--out", folder / name, "--quiet",
                            "--groups", "ARMS,ARM_1,ARM_2,EXT_AXIS")
        assert done.returncode == 0, done
        out[name] = (folder / name, int(done.stdout.split("\n  basic  ", 1)[1].split()[0]))
    return out


@pytest.mark.parametrize("name", ["run.csv", "run.parquet", "run.mcap"])
def test_plot_draws_every_group(recordings, tmp_path, name):
    path, samples = recordings[name]
    png = tmp_path / "run.png"
    done = tarn("plot", path, "--out", png)
    assert done.returncode == 0, done
    assert done.stdout == "plotted %d states samples of ARMS, ARM_1, ARM_2, EXT_AXIS to %s\n" % (samples, png)
    # 5 panels of 3.6 in across, 2.6 in per group plus the title, at 100 dpi
    assert png_size(png) == (1800, 1120)
    assert png.stat().st_size > 50_000
    ink, lines, total = colour_counts(png)
    assert ink > 0.03 * total, (ink, total)
    assert all(n > 500 for n in lines.values()), lines  # the data's lines, not just axes


def test_plot_one_group_and_a_resolution(recordings, tmp_path):
    path, samples = recordings["run.csv"]
    png = tmp_path / "arm.png"
    done = tarn("plot", path, "--out", png, "--groups", "ARM_1", "--dpi", "50")
    assert done.returncode == 0, done
    assert done.stdout == "plotted %d states samples of ARM_1 to %s\n" % (samples, png)
    assert png_size(png) == (900, 170)


def test_plot_of_an_unknown_group_names_the_ones_there(recordings, tmp_path):
    done = tarn("plot", recordings["run.csv"][0], "--out", tmp_path / "x.png", "--groups", "ARM_3")
    assert done.returncode == 2, done
    one_error_line(done, "tarn: %s has no group ARM_3 (it has ARMS, ARM_1, ARM_2, EXT_AXIS)" % recordings["run.csv"][0])


def test_plot_of_a_recording_without_states_rows(tmp_path):
    path = tmp_path / "empty.csv"
    path.write_text("stream,index,stamp_sec,stamp_nanosec,received_at,ARM_1.q_d.1\nextra,1,0,0,1.0,0.5\n")
    done = tarn("plot", path, "--out", tmp_path / "x.png")
    assert done.returncode == 1, done
    one_error_line(done, "tarn: %s has no states samples to plot" % path)


@pytest.mark.parametrize("out, status, message", [
    ("run.xyz", 2, "tarn: {out}: matplotlib writes no .xyz pictures (it writes "),
    ("no/run.png", 1, "tarn: {out}: no folder {folder}"),
])
def test_plot_checks_its_output_before_reading(tmp_path, out, status, message):
    # the recording does not exist: a tool that read it first would say so instead
    out = tmp_path / out
    done = tarn("plot", tmp_path / "none.csv", "--out", out)
    assert done.returncode == status, done
    one_error_line(done, message.format(out="cannot write %s" % out, folder=out.parent))
    assert not out.exists()


def test_every_axis_carries_its_unit(recordings):
    sys.path.insert(0, str(TOOL_DIR))
    from tarn_cli import plot

    plt = plot.load_pyplot()
    fig, _, names = plot.figure(plt, str(recordings["run.parquet"][0]))
    try:
        labels = [[ax.get_ylabel() for ax in fig.axes[5 * i:5 * i + 5]] for i in range(len(names))]
    finally:
        plt.close(fig)
    arm = ["q [rad]", "dq [rad/s]", "tau [N·m]", "force [N]", "moment [N·m]"]
    # the external axis may turn or slide
    track = ["q [rad or m]", "dq [rad/s or m/s]", "tau [N·m or N]", "force [N]", "moment [N·m]"]
    assert dict(zip(names, labels)) == {"ARMS": arm, "ARM_1": arm, "ARM_2": arm, "EXT_AXIS": track}
    assert all(ax.get_xlabel() == "robot time [s]" for ax in fig.axes[-5:])


def test_a_stamp_that_is_no_number_plots_over_arrival_time(tmp_path):
    path = tmp_path / "edited.csv"
    path.write_text("stream,index,stamp_sec,stamp_nanosec,received_at,ARM_1.q.1\n"
                    "basic,1,x,0,1.0,0.5\nbasic,2,1,0,1.1,0.6\n")
    sys.path.insert(0, str(TOOL_DIR))
    from tarn_cli import plot

    plt = plot.load_pyplot()
    fig, samples, names = plot.figure(plt, str(path))
    try:
        assert (samples, names) == (2, ["ARM_1"])
        assert fig.axes[-1].get_xlabel() == "arrival time [s]"
    finally:
        plt.close(fig)
