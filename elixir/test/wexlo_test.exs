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

  defp arg_after(packer, flag) do
    packer_args(packer) |> Enum.drop_while(&(&1 != flag)) |> Enum.at(1)
  end

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
          compression: :zstd,
          level: -5
        )

      assert Wexlo.pack(release) == release

      assert packer_args(packer) ==
               ["pack", ctx.release_dir, "--output", Path.join(out, "my_app"), "--quiet"] ++
                 ["--block-size", "4096", "--threads", "3", "--compression", "zstd"] ++
                 ["--level", "-5"]

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

    test "the target comes from the release's runtime unless target: names one", ctx do
      packer = fake_packer!(ctx.dir)
      out = Path.join(ctx.dir, "out")
      bin = Path.join(ctx.release_dir, "erts-13.1.5/bin")
      packed = fn options -> Wexlo.pack(release(ctx.release_dir, [packer: packer] ++ options)) end
      target_and_output = fn -> {arg_after(packer, "--target"), arg_after(packer, "--output")} end
      # ELF identification, e_type and e_machine (x86-64 62, aarch64 183).
      elf = fn data, machine -> <<0x7F, "ELF", 2, data, 1, 0::72, 2::little-16>> <> machine end

      for {erlexec, target} <- [
            {elf.(1, <<62::little-16>>), "linux-x86_64"},
            {elf.(1, <<183::little-16>>), "linux-aarch64"},
            {elf.(2, <<183::big-16>>), "linux-aarch64"},
            {elf.(1, <<40::little-16>>), nil},
            {"#!/bin/sh\n", nil},
            {"\x7fELF", nil}
          ] do
        File.write!(Path.join(bin, "erlexec"), erlexec)
        packed.(output_dir: out)
        assert target_and_output.() == {target, Path.join(out, "my_app")}, inspect(erlexec)
      end

      packed.(output_dir: out, target: "windows-x86_64", stub: "stubs/s")
      assert target_and_output.() == {"windows-x86_64", Path.join(out, "my_app.exe")}
      assert arg_after(packer, "--stub") == Path.expand("stubs/s")

      File.write!(Path.join(bin, "erl.exe"), "")
      packed.(output_dir: out)
      assert target_and_output.() == {"windows-x86_64", Path.join(out, "my_app.exe")}

      packed.(output_dir: out, target: "linux-aarch64")
      assert target_and_output.() == {"linux-aarch64", Path.join(out, "my_app")}
    end

    test "refuses to pack before :assemble has run", ctx do
      packer = fake_packer!(ctx.dir)
      release = %{release(ctx.release_dir, packer: packer) | steps: [:assemble]}

      assert_raise Mix.Error, ~r/not assembled yet; put &Wexlo.pack\/1 after :assemble/, fn ->
        Wexlo.pack(release)
      end

      refute File.exists?(packer <> ".args")
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
      assert error.message =~ "sh scripts/build-packer.sh && cmake --install"

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

      assert_raise Mix.Error, ~r/"linux-arm64" is not a valid target \("linux-x86_64", /, fn ->
        Wexlo.pack(release(ctx.release_dir, target: "linux-arm64"))
      end

      assert_raise Mix.Error, ~r/23 is not a valid level \(an integer from -131072 to 22\)/, fn ->
        Wexlo.pack(release(ctx.release_dir, compression: :zstd, level: 23))
      end

      assert_raise Mix.Error, ~r/level: applies to compression: :zstd only/, fn ->
        Wexlo.pack(release(ctx.release_dir, level: 3))
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
