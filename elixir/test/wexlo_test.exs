defmodule WexloTest do
  # Changes the environment (WEXLO_PACKER, PATH) and Mix's shell.
  use ExUnit.Case, async: false

  import Wexlo.TestFiles

  setup do
    dir = tmp_dir!()
    release_dir = Path.join(dir, "rel/my_app")
    File.mkdir_p!(Path.join(release_dir, "erts-13.1.5/bin"))

    Mix.shell(Mix.Shell.Process)
    saved = for name <- ["WEXLO_PACKER", "PATH"], do: {name, System.get_env(name)}

    on_exit(fn ->
      Mix.shell(Mix.Shell.IO)
      Enum.each(saved, fn {name, value} -> restore_env(name, value) end)
    end)

    %{dir: dir, release_dir: release_dir}
  end

  defp restore_env(name, nil), do: System.delete_env(name)
  defp restore_env(name, value), do: System.put_env(name, value)

  defp release(release_dir, wexlo_options) do
    %Mix.Release{name: :my_app, path: release_dir, options: [quiet: true, wexlo: wexlo_options]}
  end

  # Records its arguments one per line in ARGS beside itself, then runs `body`.
  defp fake_packer!(dir, body \\ "") do
    script!(Path.join(dir, "bin/wexlo"), ~s(printf '%s\\n' "$@" > "$0.args"\n) <> body)
  end

  defp packer_args(packer), do: File.read!(packer <> ".args") |> String.split("\n", trim: true)

  describe "pack/1 with a stand-in packer" do
    test "hands the release, the output and the options to the packer", ctx do
      packer = fake_packer!(ctx.dir)
      out = Path.join(ctx.dir, "out")

      release =
        release(ctx.release_dir,
          packer: packer,
          output_dir: out,
          block_size: 4096,
          threads: 3,
          compression: :zstd
        )

      assert Wexlo.pack(release) == release

      assert packer_args(packer) ==
               ["pack", ctx.release_dir, "--output", Path.join(out, "my_app"), "--quiet"] ++
                 ["--block-size", "4096", "--threads", "3", "--compression", "zstd"]

      Wexlo.pack(
        release(ctx.release_dir,
          packer: packer,
          output_dir: out,
          icon: "app.ico",
          version_info: [CompanyName: "Example Ltd", LegalCopyright: "© Example"]
        )
      )

      assert Enum.take(packer_args(packer), -6) ==
               ["--icon", "app.ico", "--version-info", "CompanyName=Example Ltd"] ++
                 ["--version-info", "LegalCopyright=© Example"]

      Wexlo.pack(release(ctx.release_dir, packer: packer, output_dir: out, service: true))
      assert List.last(packer_args(packer)) == "--service"

      Wexlo.pack(release(ctx.release_dir, packer: packer, output_dir: out, service: false))
      refute "--service" in packer_args(packer)
    end

    test "packs a release with a Windows runtime into NAME.exe for Windows", ctx do
      File.write!(Path.join(ctx.release_dir, "erts-13.1.5/bin/erl.exe"), "")
      packer = fake_packer!(ctx.dir)
      out = Path.join(ctx.dir, "out")

      Wexlo.pack(release(ctx.release_dir, packer: packer, output_dir: out))

      args = packer_args(packer)

      assert Enum.drop_while(args, &(&1 != "--output")) |> Enum.at(1) ==
               Path.join(out, "my_app.exe")

      assert Enum.drop_while(args, &(&1 != "--target")) |> Enum.at(1) == "windows-x86_64"
    end

    test "shows what the packer warns about", ctx do
      packer = fake_packer!(ctx.dir, "echo \"wexlo: warning: leaving out 'notes'\" >&2\n")

      Wexlo.pack(release(ctx.release_dir, packer: packer, output_dir: ctx.dir))

      assert_received {:mix_shell, :info, ["wexlo: warning: leaving out 'notes'"]}
    end

    test "stops the release with the packer's message when packing fails", ctx do
      packer = fake_packer!(ctx.dir, "echo 'wexlo: error: stub not found' >&2\nexit 1\n")

      error =
        assert_raise Mix.Error, fn ->
          Wexlo.pack(release(ctx.release_dir, packer: packer, output_dir: ctx.dir))
        end

      assert error.message =~ "exited with status 1"
      assert error.message =~ "wexlo: error: stub not found"
    end
  end

  describe "finding the packer" do
    test "the packer: option comes before WEXLO_PACKER, which comes before PATH", ctx do
      on_path = fake_packer!(Path.join(ctx.dir, "on_path"))
      from_env = fake_packer!(Path.join(ctx.dir, "from_env"))
      from_option = fake_packer!(Path.join(ctx.dir, "from_option"))
      System.put_env("PATH", Path.dirname(on_path))

      System.put_env("WEXLO_PACKER", from_env)
      Wexlo.pack(release(ctx.release_dir, packer: from_option, output_dir: ctx.dir))
      assert File.exists?(from_option <> ".args")
      refute File.exists?(from_env <> ".args")

      Wexlo.pack(release(ctx.release_dir, output_dir: ctx.dir))
      assert File.exists?(from_env <> ".args")

      System.delete_env("WEXLO_PACKER")
      Wexlo.pack(release(ctx.release_dir, output_dir: ctx.dir))
      assert File.exists?(on_path <> ".args")
    end

    test "a packer that is not there is named, with how to get one", ctx do
      missing = Path.join(ctx.dir, "nowhere/wexlo")
      System.put_env("WEXLO_PACKER", missing)

      error = assert_raise Mix.Error, fn -> Wexlo.pack(release(ctx.release_dir, [])) end
      assert error.message =~ "#{inspect(missing)} (from WEXLO_PACKER) is not an executable file"
      assert error.message =~ "cmake --build --preset release"

      System.delete_env("WEXLO_PACKER")
      System.put_env("PATH", ctx.dir)

      error = assert_raise Mix.Error, fn -> Wexlo.pack(release(ctx.release_dir, [])) end
      assert error.message =~ "`wexlo` is not on PATH"
      assert error.message =~ "set WEXLO_PACKER to the program's path"
    end

    test "a file that cannot be run is not taken for the packer", ctx do
      not_executable = Path.join(ctx.dir, "wexlo")
      File.write!(not_executable, "")

      assert_raise Mix.Error, ~r/from the release's packer: option/, fn ->
        Wexlo.pack(release(ctx.release_dir, packer: not_executable))
      end
    end
  end

  describe "options" do
    test "an unknown key or a wrong value stops the release, naming it", ctx do
      assert_raise Mix.Error, ~r/unknown option :thread; did you mean :threads\?/, fn ->
        Wexlo.pack(release(ctx.release_dir, thread: 2))
      end

      assert_raise Mix.Error, ~r/-1 is not a valid threads/, fn ->
        Wexlo.pack(release(ctx.release_dir, threads: -1))
      end

      assert_raise Mix.Error, ~r/"8M" is not a valid block_size/, fn ->
        Wexlo.pack(release(ctx.release_dir, block_size: "8M"))
      end

      assert_raise Mix.Error, ~r/:gzip is not a valid compression \(:xz or :zstd\)/, fn ->
        Wexlo.pack(release(ctx.release_dir, compression: :gzip))
      end

      assert_raise Mix.Error, ~r/\[CompanyName: 1\] is not a valid version_info/, fn ->
        Wexlo.pack(release(ctx.release_dir, version_info: [CompanyName: 1]))
      end

      assert_raise Mix.Error, ~r/:app is not a valid icon \(the path of an .ico file/, fn ->
        Wexlo.pack(release(ctx.release_dir, icon: :app))
      end

      assert_raise Mix.Error, ~r/"yes" is not a valid service \(true or false\)/, fn ->
        Wexlo.pack(release(ctx.release_dir, service: "yes"))
      end
    end

    test "a typo names the option meant; a key like no other names none", ctx do
      error = assert_raise Mix.Error, fn -> Wexlo.pack(release(ctx.release_dir, blok_size: 1)) end
      assert error.message =~ "unknown option :blok_size; did you mean :block_size? (known: "

      error = assert_raise Mix.Error, fn -> Wexlo.pack(release(ctx.release_dir, colour: 1)) end
      assert error.message =~ "unknown option :colour (known: "
    end

    test "options are checked before the packer is looked for", ctx do
      System.put_env("WEXLO_PACKER", Path.join(ctx.dir, "nowhere/wexlo"))

      assert_raise Mix.Error, ~r/unknown option :servise; did you mean :service\?/, fn ->
        Wexlo.pack(release(ctx.release_dir, servise: true))
      end
    end
  end
end
