defmodule Wexlo.FixtureProject do
  @moduledoc false
  # The project in test/fixtures/my_app, copied and released the way a user
  # would: `MIX_ENV=prod mix release` in its own directory.

  @fixture Path.expand("../fixtures/my_app", __DIR__)
  @package Path.expand("../..", __DIR__)

  def copy!(dir) do
    project = Path.join(dir, "my_app")
    File.cp_r!(@fixture, project)
    project
  end

  def release(project, env \\ []) do
    System.cmd("mix", ["release", "--overwrite"],
      cd: project,
      env: [{"WEXLO_PACKAGE_DIR", @package} | release_env()] ++ env,
      stderr_to_stdout: true
    )
  end

  @doc "The same on a terminal: `mix release` run by script(1) on a pseudo-terminal."
  def release_on_terminal(project, env \\ []) do
    System.cmd("script", ["-qec", "mix release --overwrite", "/dev/null"],
      cd: project,
      env: [{"WEXLO_PACKAGE_DIR", @package} | release_env()] ++ env,
      stderr_to_stdout: true
    )
  end

  # The test run's own Mix settings must not reach the fixture's build.
  defp release_env do
    [
      {"MIX_ENV", "prod"},
      {"MIX_BUILD_PATH", nil},
      {"MIX_DEPS_PATH", nil},
      {"MIX_EXS", nil},
      {"MIX_TARGET", nil},
      {"HEX_OFFLINE", "1"}
    ]
  end

  def packer, do: System.fetch_env!("WEXLO_PACKER")

  @doc "Why the Windows test cannot run, or nil when it can."
  def windows_stub_missing do
    case System.get_env("WEXLO_PACKER", "") do
      "" ->
        nil

      packer ->
        stub = Path.join(Path.dirname(packer), "wexlo-stub-windows-x86_64.exe")

        unless File.regular?(stub) do
          "the packer has no Windows stub beside it (#{stub}); " <>
            "build it with the `windows` preset and configure with WEXLO_WINDOWS_STUB"
        end
    end
  end
end
