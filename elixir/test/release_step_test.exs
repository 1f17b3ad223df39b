defmodule Wexlo.ReleaseStepTest do
  # `MIX_ENV=prod mix release` of a user's project, packed by the real packer.
  use ExUnit.Case, async: true

  import Wexlo.TestFiles
  alias Wexlo.FixtureProject

  @moduletag :packer
  @moduletag timeout: 180_000

  setup do
    dir = tmp_dir!()
    %{dir: dir, project: FixtureProject.copy!(dir)}
  end

  defp inspect_launcher(path) do
    {output, 0} = System.cmd(FixtureProject.packer(), ["inspect", path])
    output
  end

  test "leaves an executable in _build/prod/wexlo that runs the application", ctx do
    {output, status} = FixtureProject.release(ctx.project)
    assert status == 0, output

    executable = Path.join(ctx.project, "_build/prod/wexlo/my_app")
    env = [{"XDG_DATA_HOME", Path.join(ctx.dir, "data")}, {"APPDATA", nil}]

    assert System.cmd(executable, ["one", "two words"], env: env) ==
             {~s(my_app ran with ["one", "two words"]\n), 0}

    # The release's wexlo: options reached the packer.
    assert inspect_launcher(executable) =~ "--block-size 1048576"
  end

  test "on a terminal the packer shows its progress and summary; service: true reaches it", ctx do
    {output, status} = FixtureProject.release_on_terminal(ctx.project, [{"FIXTURE_SERVICE", "1"}])

    assert status == 0, output

    assert output =~
             ~r/packed my_app \([0-9.]+ [kMG]B, [0-9]+ files, needs [0-9]+ system libraries\) -> /

    refute output =~ "* packed"

    executable = Path.join(ctx.project, "_build/prod/wexlo/my_app")
    assert inspect_launcher(executable) =~ "\nstart mode: service\n"
  end

  @tag skip: FixtureProject.windows_stub_missing()
  test "packs a release with a Windows runtime into my_app.exe", ctx do
    stand_in_erts = Path.join(ctx.dir, "windows/erts-13.1.5")
    File.mkdir_p!(Path.join(stand_in_erts, "bin"))
    # The packer wants a 64-bit x86 console program there; the Windows stub is one.
    windows_stub =
      Path.join(Path.dirname(FixtureProject.packer()), "wexlo-stub-windows-x86_64.exe")

    File.cp!(windows_stub, Path.join(stand_in_erts, "bin/erl.exe"))

    # A Linux program the release carries but never loads, let through.
    File.mkdir_p!(Path.join(ctx.project, "priv"))
    linux_stub = Path.join(Path.dirname(FixtureProject.packer()), "wexlo-stub-linux-x86_64")
    File.cp!(linux_stub, Path.join(ctx.project, "priv/tool"))

    {output, status} =
      FixtureProject.release(ctx.project, [
        {"FIXTURE_ERTS", stand_in_erts},
        {"FIXTURE_FOREIGN", "lib/my_app-0.1.0/priv/tool"}
      ])

    assert status == 0, output

    build = Path.join(ctx.project, "_build/prod/wexlo")
    assert File.ls!(build) == ["my_app.exe"]
    assert inspect_launcher(Path.join(build, "my_app.exe")) =~ "target: windows-x86_64"
  end
end
